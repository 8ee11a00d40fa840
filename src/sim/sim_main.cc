// cubesec-sim: the command-line tool of the simulated servers.
#include <iostream>
#include <string>
#include <vector>

#include "sim/sim_api.h"
#include "sim/sim_tool.h"
#include "tools/platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string folder = cubesec::sim::ServerFolder(cubesec::SystemPlatform());
  return cubesec::sim::RunSimTool(args, folder, std::cin, std::cout, std::cerr);
}

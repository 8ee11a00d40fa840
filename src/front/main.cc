// cubesec: dumps, restores or resets the security set-up of a server.
#include <exception>
#include <iostream>

#include "front/api_choice.h"
#include "front/command_line.h"
#include "front/program.h"

int main(int argc, char** argv) {
  cubesec::Platform& platform = cubesec::SystemPlatform();
  try {
    return cubesec::ProgramMain(platform, cubesec::ChooseApi, argc, argv, std::cin, std::cout,
                                std::cerr);
  } catch (const std::exception& error) {
    std::cerr << cubesec::ProgramNameOf(platform.ExecutablePath()) << ": " << error.what() << "\n";
    return cubesec::kExitFailed;
  }
}

// A stand-in editor for tests of starting programs: writes the number of its arguments and
// each argument, every one followed by "|", to the file named by CUBESEC_RECORD_ARGS. The
// file appears whole, by a rename, so a test that waits for it never reads half of it.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const char* target = std::getenv("CUBESEC_RECORD_ARGS");
  if (target == nullptr || *target == '\0') return 2;
  const std::string partial = std::string(target) + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << (argc - 1) << "|";
    for (int i = 1; i < argc; ++i) out << argv[i] << "|";
    if (!out) return 1;
  }
  return std::rename(partial.c_str(), target) == 0 ? 0 : 1;
}

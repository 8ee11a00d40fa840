// Temporary until the simulated server's tool lands.
#include <cstdio>
int main() {
  std::fputs("cubesec-sim: not built yet\n", stderr);
  return 1;
}

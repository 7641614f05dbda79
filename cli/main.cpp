// ambrel-cli: the command-line front end.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("ambrel-cli 6.3.1 (build 3779)\n");
    return 0;
  }
  std::printf("usage: ambrel-cli --version\n");
  return 0;
}

// Prints the not-have list as this process's environment sees the desktop's file types;
// given a shell command, runs it and prints the list again.
#include <cstdio>
#include <cstdlib>

#include "print/printers.h"

int main(int argc, char** argv) {
  std::puts(BuildNotHaveList().c_str());
  if (argc > 1) {
    if (std::system(argv[1]) != 0) return 1;
    std::puts(BuildNotHaveList().c_str());
  }
  return 0;
}

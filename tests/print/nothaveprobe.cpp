// Prints the not-have list as this process's environment sees the desktop's file types.
#include <cstdio>

#include "print/printers.h"

int main() {
  std::puts(BuildNotHaveList().c_str());
  return 0;
}

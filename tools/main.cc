#include "tools/driver.h"

int main(int argc, char** argv) {
  return nubrix::run_driver(argc, argv);
}

#include "tools/driver.h"

#include "utils/console.h"

namespace nubrix {

int run_driver(int argc, char** argv) {
  (void)argv;
  if (argc < 3) {
    log("Bad argument.");
    return 1;
  }
  return 0;
}

}  // namespace nubrix

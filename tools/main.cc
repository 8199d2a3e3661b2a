#include "tools/driver.h"
#include "utils/loop.h"

namespace {

// The framework's runtime is set up before main like in every framework program (the
// exit handler and the thread support); the compiler itself starts no thread or loop.
const bool runtime_ready = (nubrix::runtime_initialize(), true);

}  // namespace

int main(int argc, char** argv) {
  (void)runtime_ready;
  return nubrix::run_driver(argc, argv);
}

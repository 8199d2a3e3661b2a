// Starts a run loop on a framework thread, hands ten jobs to the thread pool and prints
// each result on the loop's thread, in the order the jobs were submitted, however the
// pool finishes them.
#include <cstdio>

#include "utils/loop.h"

using namespace nubrix;

namespace {

constexpr int kJobs = 10;

// The sum of the squares below n, computed slowly on purpose.
uint64_t job(int n) {
  uint64_t sum = 0;
  for (int round = 0; round < 2000; round++)
    for (int i = 0; i < n * 100; i++) sum += (uint64_t)i * i / 2000;
  return sum;
}

}  // namespace

int main() {
  std::thread::id id = Thread::spawn(
      [](Thread&) {
        RunLoop* loop = RunLoop::current();
        uint64_t results[kJobs] = {0};
        bool finished[kJobs] = {false};
        int next_to_print = 0;
        for (int n = 0; n < kJobs; n++) {
          loop->work([&results, n](SimpleEvent&) { results[n] = job(kJobs - n); },
                     [&, n](SimpleEvent&) {
                       // Done callbacks run on this thread; print what is ready in order.
                       finished[n] = true;
                       while (next_to_print < kJobs && finished[next_to_print]) {
                         printf("job %d: %llu\n", next_to_print,
                                (unsigned long long)results[next_to_print]);
                         next_to_print++;
                       }
                     },
                     String::format("job %d", n));
        }
        loop->run(0);  // returns once every work has completed and nothing is left
        printf("all %d jobs done\n", next_to_print);
        return 0;
      },
      "example loop");
  Thread::wait_for_end(id);
  return 0;
}

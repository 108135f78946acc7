// The timed launch of a child that exits at once: what one call costs.
// A wait built on fixed one-second turns would cost about 1000 ms a call.
// Run with stderr sent away: every call writes two log lines.
//   launch_bench [CALLS]

#include "process/launch.h"
#include "stats.h"

#include <cstdio>
#include <string>

using namespace tarnwell;
using namespace tarnwell::bench;

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::stoi(argv[1]) : 200;
  std::vector<double> costs;
  for (int i = 0; i < calls; ++i) {
    auto start = Clock::now();
    int32_t status = launchProcess("/bin/true", {}, "/", 3600);
    costs.push_back(millisSince(start));
    if (status != 0) {
      std::fprintf(stderr, "launch_bench: /bin/true returned %d\n", status);
      return 1;
    }
  }
  std::printf("timed launch of /bin/true, %d calls: median %.2f ms, p90 %.2f ms, max %.2f ms per call\n", calls,
              median(costs), percentile(costs, 0.9), percentile(costs, 1.0));
  return 0;
}

#include "bench/cpu_time.h"

#include <ctime>

namespace meterload::bench {

std::chrono::microseconds ProcessCpuTime()
{
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return std::chrono::seconds(used.tv_sec) +
           std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::nanoseconds(used.tv_nsec));
}

}  // namespace meterload::bench

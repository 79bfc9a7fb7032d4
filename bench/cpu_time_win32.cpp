#include "bench/cpu_time.h"

#include <windows.h>

namespace meterload::bench {
namespace {

long long Ticks(const FILETIME& time)  // 100 ns units
{
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

std::chrono::microseconds ProcessCpuTime()
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds((Ticks(kernel) + Ticks(user)) / 10);
}

}  // namespace meterload::bench

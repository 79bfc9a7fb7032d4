// Processor time the benchmark's process has used (user and system, all
// threads), to show what finishing pauses by yielding costs.
#pragma once

#include <chrono>

namespace meterload::bench {

std::chrono::microseconds ProcessCpuTime();

}  // namespace meterload::bench

#include "bench/bench_sim.h"

#include "sim/zqsim_control.h"

#include <chrono>
#include <stdexcept>

namespace meterload::bench {
namespace {

template <typename Fn>
Fn Resolve(const DynamicLibrary& library, const char* name)
{
    void* symbol = library.Symbol(name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("the simulator lacks ") + name);
    }
    return reinterpret_cast<Fn>(symbol);
}

unsigned long long NowUs(void* context)
{
    return static_cast<unsigned long long>(static_cast<Clock*>(context)->Now().count());
}

void SleepMs(void* context, unsigned int milliseconds)
{
    static_cast<Clock*>(context)->Sleep(std::chrono::milliseconds(milliseconds));
}

}  // namespace

BenchSim::BenchSim() : path_(ZQSIM_LIBRARY_PATH)
{
    if (!library_.Load(path_)) {
        throw std::runtime_error("cannot load " + path_ + ": " + library_.LastError());
    }
}

void BenchSim::Configure(const std::string& text)
{
    if (Resolve<zqsim_configure_fn>(library_, "zqsim_configure")(text.c_str()) != 0) {
        throw std::runtime_error("the simulator refused its configuration:\n" + text);
    }
}

void BenchSim::PowerCycle()
{
    Resolve<zqsim_power_cycle_fn>(library_, "zqsim_power_cycle")();
}

void BenchSim::UseClock(Clock& clock)
{
    Resolve<zqsim_set_clock_fn>(library_, "zqsim_set_clock")(&NowUs, &SleepMs, &clock);
}

}  // namespace meterload::bench

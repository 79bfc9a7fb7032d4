// The simulator's own controls, declared in zqsim_control.h.
#include "sim/simulator.h"
#include "sim/zqsim_control.h"
#include "visa_surface/export_macros.h"

#include <cstring>

VISA_EXPORT int zqsim_configure(const char* text)
{
    const zqsim::CallGuard guard;
    return zqsim::TheSimulator().Configure(text);
}

VISA_EXPORT void zqsim_power_cycle(void)
{
    const zqsim::CallGuard guard;
    zqsim::TheSimulator().PowerCycle();
}

VISA_EXPORT void zqsim_plug_in(void)
{
    const zqsim::CallGuard guard;
    zqsim::TheSimulator().PlugIn();
}

VISA_EXPORT void zqsim_set_clock(zqsim_now_us_fn nowUs, zqsim_sleep_ms_fn sleepMs, void* context)
{
    const zqsim::CallGuard guard{zqsim::CallGuard::LockOnly{}};
    zqsim::TheSimulator().Clock().Use(nowUs, sleepMs, context);
}

VISA_EXPORT size_t zqsim_transcript(char* buffer, size_t capacity)
{
    const zqsim::CallGuard guard{zqsim::CallGuard::LockOnly{}};
    const std::string& text = zqsim::TheSimulator().TranscriptText();
    if (buffer != nullptr && capacity > 0) {
        const std::size_t copied = std::min(text.size(), capacity - 1);
        std::memcpy(buffer, text.data(), copied);
        buffer[copied] = 0;
    }
    return text.size();
}

const char* const visa_surface::kLibraryFileName = VISA_LIBRARY_FILE;

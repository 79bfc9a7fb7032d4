// What meterload-cli's exit status tells a script. The reasons an update stops
// map onto these in one table (update/stop_reasons.h).
#pragma once

namespace meterload {

enum ExitCode : int {
    kDone = 0,
    kUpdateFailed = 1,  // after the instrument entered update mode
    kUsage = 2,
    kNoInstrument = 3,     // none, the named serial absent, or several and none named
    kFileRefused = 4,      // the instrument was not switched into update mode
    kInstrumentFault = 5,  // no answer, wrong mode, or the package reached another one
    kVisaLibrary = 6,      // missing, or lacking a function
    kNotVerified = 7,      // installed, but after the power cycle it did not report the version sent
    kInterrupted = 130,
};

}  // namespace meterload

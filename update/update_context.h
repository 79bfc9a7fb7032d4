// What every update procedure works with.
#pragma once

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "update/dialog_port.h"

#include <string>

namespace meterload {

struct UpdateContext {
    DialogPort& dialog;
    Clock& clock;
    // The VISA library each new connection binds.
    std::string visaLibrary = kVisaLibraryName;
};

}  // namespace meterload

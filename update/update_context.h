// What every update procedure works with.
#pragma once

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "update/dialog_port.h"
#include "update/update_observer.h"
#include "update/update_record.h"

#include <string>

namespace meterload {

struct UpdateContext {
    DialogPort& dialog;
    Clock& clock;
    // The VISA library each new connection binds.
    std::string visaLibrary = kVisaLibraryName;
    // The instrument each new connection opens: empty for the first ZQ6140
    // the search finds (the dialog), otherwise the one with this serial number.
    std::string serial = std::string();
    // Null: nobody watches, nothing is stopped.
    UpdateObserver* observer = nullptr;

    // Null: no history is kept.
    UpdateRecorder* recorder = nullptr;

    // Another holder keeps the VISA library loaded (several instruments at
    // once): each connection then closes its sessions itself, since
    // unloading no longer does.
    bool libraryHeldElsewhere = false;

    UpdateObserver& Observer() const { return observer != nullptr ? *observer : NoObserver(); }
};

}  // namespace meterload

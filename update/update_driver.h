// What a press of the main dialog's left button does, and the instrument check
// the dialog runs when it opens.
#pragma once

#include "update/update_context.h"

namespace meterload {

class UpdateDriver {
public:
    explicit UpdateDriver(UpdateContext context);

    // The presence check: sets the buttons, the ready flag and the start hints.
    void CheckInstrument();

    // Control 1 or Enter: the instrument check again when the ready flag is 0,
    // otherwise one whole update (identify, choose a file, install it).
    void OnOK();

    int ReadyFlag() const { return ready_; }

private:
    UpdateContext context_;
    int ready_ = 0;
};

}  // namespace meterload

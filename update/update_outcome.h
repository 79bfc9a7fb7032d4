// What an update procedure did, as data: how far it got, whether the
// instrument entered update mode, why it stopped, and the texts it showed.
// Front ends, exit codes and the history are made from this, never from the
// texts.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace meterload {

enum class UpdateStage {
    Identification,  // looking for the instrument and asking for its versions
    FileChoice,      // identified; waiting for the user's file
    Checks,          // checking the instrument and the file before update mode
    Transfer,        // in update mode: settling, sending, waiting for replies
    Finished,        // every image acknowledged
};

enum class StopReason {
    None,               // finished
    NotFound,           // no ZQ6140 found
    WrongMode,          // no versions in the identification reply, or still in update mode
    SerialMissing,      // the package's hand-over named no serial number
    AnotherInstrument,  // the package reached another instrument than the one identified
    UserAbort,          // no file chosen
    FileUnreadable,     // the file could not be opened or read
    PackageDamaged,     // an entry lies outside the package, or there is none
    NotZq6140Image,     // the image's identity is not a ZQ6140's
    VersionGate,        // the instrument's versions do not take this image
    Declined,           // the front end said no to update mode
    Stopped,            // the front end stopped the transfer
    WriteFailed,        // a data write sent nothing
    ShortWrite,         // a data write sent fewer bytes than asked
    ConnectionLost,     // the library reported the instrument gone
    EndFrameFailed,     // the end-of-image frame did not go out whole
    ReplyRefused,       // a reply named an error
    ReplyMissing,       // no reply came
};

// Their names as the code spells them, for failing tests and traces.
std::ostream& operator<<(std::ostream& out, UpdateStage stage);
std::ostream& operator<<(std::ostream& out, StopReason reason);

// What one procedure (the single image or the package) hands back.
struct ProcedureResult {
    UpdateStage stage = UpdateStage::Checks;
    bool updateModeEntered = false;
    StopReason reason = StopReason::None;

    bool operator==(const ProcedureResult& other) const
    {
        return stage == other.stage && updateModeEntered == other.updateModeEntered && reason == other.reason;
    }
};
std::ostream& operator<<(std::ostream& out, const ProcedureResult& result);

struct UpdateOutcome {
    UpdateStage stage = UpdateStage::Identification;
    bool updateModeEntered = false;
    StopReason reason = StopReason::None;
    // The front end's own words when it refused the file before update mode
    // (the reason is then VersionGate); empty otherwise.
    std::string refusal;
    // The log lines and message-box lines shown since the file was chosen (or
    // during the identification, when it stopped there), up to the ending
    // that every finished transfer shares.
    std::vector<std::string> texts;
    // Whether that common ending was shown.
    bool endingShown = false;

    bool Complete() const { return stage == UpdateStage::Finished; }
};

}  // namespace meterload

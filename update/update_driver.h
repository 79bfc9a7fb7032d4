// What a press of the main dialog's left button does, and the instrument check
// the dialog runs when it opens.
#pragma once

#include "link/instrument_connection.h"
#include "link/update_link.h"
#include "platform/file.h"
#include "update/status_log.h"
#include "update/update_attempt.h"
#include "update/update_context.h"
#include "update/update_outcome.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meterload {

class UpdateDriver {
public:
    explicit UpdateDriver(UpdateContext context);
    // The context it hands to the procedures points into the driver itself.
    UpdateDriver(const UpdateDriver&) = delete;
    UpdateDriver& operator=(const UpdateDriver&) = delete;

    // The presence check: sets the buttons, the ready flag and the start hints.
    void CheckInstrument();

    // Control 1 or Enter: the instrument check again when not ready,
    // otherwise one whole update (identify, choose a file, install it).
    void OnOK();

    // One whole update, as OnOK runs it when ready.
    UpdateOutcome Update();

    // The identification alone, its connection closed again before it
    // returns. When it stopped (no instrument, or the wrong mode), the box
    // or the log lines that say so have been shown.
    enum class Found { Instrument, Nothing, WrongMode };
    struct Identification {
        Found found = Found::Nothing;
        std::string firmwareVersionField;  // as the reply carried it, line end included
        std::string serial;
    };
    Identification Identify();

    // Set by a presence check that found the instrument; cleared by one that
    // did not and after every finished update.
    bool Ready() const { return ready_; }

private:
    // What a successful identification hands to the rest of OnOK, which then
    // owns the open connection.
    struct Identified {
        Found found = Found::Nothing;
        std::unique_ptr<InstrumentConnection> connection;
        std::string firmwareVersionField;
        std::string serial;
    };

    Identified IdentifyInstrument();
    Identified StopWrongMode(std::unique_ptr<InstrumentConnection>& connection);
    std::unique_ptr<InstrumentConnection> NewConnection();

    // The two procedures. Each shows its own ending when it gets to one.
    ProcedureResult HandOverPackage(Identified& identified, const std::string& path);
    ProcedureResult InstallImage(Identified& identified, const std::string& path);

    // The single image's steps.
    ProcedureResult StopRefused(StopReason reason, std::unique_ptr<File>& image,
                                std::unique_ptr<InstrumentConnection>& connection);
    StopReason Transfer(InstrumentConnection& connection, File& image);
    using ChunkBuffer = std::array<std::uint8_t, kChunkSize>;
    struct BodySent {
        StopReason stop;               // None when the whole body went out
        std::uint32_t lastWriteCount;  // what the last data write reported; 0 when none went out
    };
    BodySent SendBody(InstrumentConnection& connection, File& image, ChunkBuffer& chunk);
    StopReason AwaitAcceptance(InstrumentConnection& connection, ChunkBuffer& chunk);
    ProcedureResult EndTransfer(std::unique_ptr<File>& image, std::unique_ptr<InstrumentConnection>& connection,
                                const std::string& fileName, StopReason reason);
    void AppendLines(const std::vector<std::string>& lines);

    // The ending every finished transfer shares, and the buttons after it.
    void ShowEnding(const std::string& fileName, bool complete);
    void OfferContinue();

    // The outcome of the update under way from what its procedure returned
    // and what the tap kept.
    UpdateOutcome OutcomeOf(const ProcedureResult& result) const;
    void RecordUpdate(const std::string& path, const Identified& identified, const UpdateOutcome& outcome,
                      const std::string& when, std::chrono::microseconds start);

    // The dialog and the observer as the procedures see them: passed through
    // unchanged, watched for the outcome and the history.
    DialogTap tap_;
    ObserverTap watch_;
    UpdateContext context_;
    StatusLog log_;
    bool ready_ = false;
};

}  // namespace meterload

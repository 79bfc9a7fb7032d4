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

    // Control 1 or Enter: the instrument check again when the ready flag is 0,
    // otherwise one whole update (identify, choose a file, install it).
    void OnOK();

    // One whole update, as OnOK runs it when the ready flag is 1.
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

    int ReadyFlag() const { return ready_; }

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

    void HandOverPackage(Identified& identified, const std::string& path);
    void InstallImage(Identified& identified, const std::string& path);
    void StopRefused(StopReason reason, std::unique_ptr<File>& image,
                     std::unique_ptr<InstrumentConnection>& connection);
    StopReason Transfer(InstrumentConnection& connection, File& image);
    using ChunkBuffer = std::array<std::uint8_t, kChunkSize>;
    StopReason AwaitAcceptance(InstrumentConnection& connection, ChunkBuffer& chunk);
    void Ending(std::unique_ptr<File>& image, std::unique_ptr<InstrumentConnection>& connection,
                const std::string& fileName, StopReason reason);
    void ReportOutcome(const std::string& fileName, StopReason reason);
    void OfferContinue();

    std::unique_ptr<InstrumentConnection> NewConnection();
    void AppendLines(const std::vector<std::string>& lines);

    // Installs the chosen file, watched for the history.
    void Install(Identified& identified, const std::string& path);
    void RecordUpdate(const std::string& path, const std::string& serial, const std::string& field,
                      const std::string& when, std::chrono::microseconds start);
    // The texts shown since the tap last restarted, into the outcome.
    void KeepTexts();

    // The dialog and the observer as the procedures see them: passed through
    // unchanged, watched for the history.
    DialogTap tap_;
    ObserverTap watch_;
    UpdateContext context_;
    StatusLog log_;
    UpdateOutcome outcome_;  // of the update under way, or the last one
    int ready_ = 0;
};

}  // namespace meterload

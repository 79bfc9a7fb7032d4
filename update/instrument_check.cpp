// The presence check at start and after every update, and the identification
// that begins every update.
#include "link/update_link.h"
#include "update/close_connection.h"
#include "update/procedure_pauses.h"
#include "update/update_driver.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace meterload {

namespace {

// Bounds the draining of an over-long reply: a babbling instrument must not
// hold the dialog for ever.
constexpr int kMaxDrainReads = 16;

// Reads the identification reply into `reply` (at most capacity - 1 bytes kept).
// A reply that filled the buffer and did not end with its line feed goes on:
// its rest is read and dropped, so that it cannot pass for the answer to the
// next exchange.
std::uint32_t ReadIdentificationReply(InstrumentConnection& connection,
                                      std::array<char, kIdentifyReplyCapacity>& reply)
{
    const auto capacity = static_cast<std::uint32_t>(reply.size());
    const std::uint32_t n = connection.Read(reply.data(), capacity);
    if (n < capacity - 1 || reply[n - 1] == '\n') {
        return n;
    }
    std::array<char, kIdentifyReplyCapacity> rest{};
    for (int i = 0; i < kMaxDrainReads; ++i) {
        const std::uint32_t more = connection.Read(rest.data(), capacity);
        if (more < capacity - 1 || rest[more - 1] == '\n') {
            break;
        }
    }
    return n;
}

}  // namespace

std::unique_ptr<InstrumentConnection> UpdateDriver::NewConnection()
{
    auto connection = std::make_unique<InstrumentConnection>(context_.clock, context_.visaLibrary);
    connection->SetLibraryHeldElsewhere(context_.libraryHeldElsewhere);
    return connection;
}

void UpdateDriver::CheckInstrument()
{
    DialogPort& dialog = context_.dialog;
    auto connection = NewConnection();
    log_.ClearLog();
    connection->OpenSelected(context_.serial);

    if (connection->FoundCount() > 0) {
        dialog.SetCaption(kSelectButton, "Select");
        dialog.SetCaption(kExitButton, "Exit");
        dialog.EnableControl(kSelectButton, true);
        log_.AppendLine("Click \"Select\" button and find the file you want to update.");
        log_.AppendLine("\r\n  5407 for DSP firmware.");
        log_.AppendLine("  1232 for 430 firmware.");
        ready_ = 1;
    } else {
        ready_ = 0;
        dialog.SetCaption(kExitButton, "Exit");
        dialog.EnableControl(kSelectButton, false);
        dialog.ShowMessageBox(BoxOwner::Dialog, "ZQ6140 USBTMC device not found.",
                              "MeterLoad firmware", BoxButtons::Ok, BoxIcon::Exclamation);
    }

    CloseAndDestroy(connection);
}

UpdateDriver::Identified UpdateDriver::IdentifyInstrument()
{
    DialogPort& dialog = context_.dialog;
    auto connection = NewConnection();
    log_.ClearLog();
    connection->OpenSelected(context_.serial);

    if (connection->FoundCount() == 0) {
        dialog.ShowMessageBox(BoxOwner::Dialog, "ZQ6140 device not found.", "MeterLoad",
                              BoxButtons::Ok, BoxIcon::Exclamation);
        dialog.EnableControl(kSelectButton, true);
        CloseAndDestroy(connection);
        return Identified{};
    }

    // No second update may start through control 1 while this one talks.
    dialog.EnableControl(kSelectButton, false);

    connection->Write(kCommandLocal);
    context_.clock.Sleep(pauses::kCommand);
    connection->Write(kCommandIdentify);
    context_.clock.Sleep(pauses::kCommand);

    std::array<char, kIdentifyReplyCapacity> reply{};
    const std::uint32_t n = ReadIdentificationReply(*connection, reply);

    // The versions follow the last comma; no comma means no usable answer.
    const std::string_view received(reply.data(), n);
    const std::size_t comma = received.rfind(',');
    if (comma == std::string_view::npos) {
        return StopWrongMode(connection);
    }
    // The field is text: it ends at the reply's end or at a zero byte in it.
    std::string_view field = received.substr(comma + 1);
    field = field.substr(0, field.find('\0'));

    // "WDL" instead of versions: the instrument is still in its update mode.
    if (field.compare(0, 3, "WDL") == 0) {
        return StopWrongMode(connection);
    }

    std::string serial = connection->SerialNumber();
    log_.AppendLine("Serial No: " + serial);
    log_.AppendLine("Please wait ...");

    return Identified{Found::Instrument, std::move(connection), std::string(field), std::move(serial)};
}

UpdateDriver::Identified UpdateDriver::StopWrongMode(std::unique_ptr<InstrumentConnection>& connection)
{
    CloseAndDestroy(connection);
    context_.dialog.EnableControl(kSelectButton, true);
    const ButtonAdvice advice(context_.dialog);
    log_.AppendLine("Incorrect mode. Please recycle power on instrument and");
    log_.AppendLine("click \"Select\" to try again.");
    return Identified{Found::WrongMode, nullptr, std::string(), std::string()};
}

}  // namespace meterload

// The presence check at start and after every update, and the identification
// that begins every update.
#include "link/update_link.h"
#include "update/close_connection.h"
#include "update/identification_reply.h"
#include "update/not_found_text.h"
#include "update/procedure_pauses.h"
#include "update/update_driver.h"

#include <optional>
#include <string>

namespace meterload {

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
        ready_ = true;
    } else {
        ready_ = false;
        dialog.SetCaption(kExitButton, "Exit");
        dialog.EnableControl(kSelectButton, false);
        dialog.ShowMessageBox(BoxOwner::Dialog, "ZQ6140 USBTMC device not found.", "MeterLoad firmware", BoxButtons::Ok,
                              BoxIcon::Exclamation);
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
        dialog.ShowMessageBox(BoxOwner::Dialog, kDeviceNotFoundText, "MeterLoad", BoxButtons::Ok, BoxIcon::Exclamation);
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

    std::optional<std::string> field = VersionsField(ReadIdentificationReply(*connection));
    if (!field || AnswersInUpdateMode(*field)) {
        return StopWrongMode(connection);
    }

    std::string serial = connection->SerialNumber();
    log_.AppendLine("Serial No: " + serial);
    log_.AppendLine("Please wait ...");

    return Identified{Found::Instrument, std::move(connection), std::move(*field), std::move(serial)};
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

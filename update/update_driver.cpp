// The left button's handler: identify, let the user choose a file, and hand it
// to the single-image or the package procedure; then the common ending.
#include "update/update_driver.h"

#include "update/close_connection.h"
#include "update/hand_over.h"
#include "update/package_name.h"
#include "update/package_update.h"
#include "update/split_path.h"
#include "update/update_history.h"

namespace meterload {

namespace {

constexpr const char* kFileFilter = "ZQ6140 Update Files (*.pak;*.bin)|*.pak;*.bin|ZQ6140 Binary Files(*.bin)|*.bin||";

}  // namespace

UpdateDriver::UpdateDriver(UpdateContext context)
    : tap_(context.dialog),
      context_(UpdateContext{tap_, context.clock, context.visaLibrary, context.serial, &watch_, context.recorder,
                             context.libraryHeldElsewhere}),
      log_(context_.dialog, context_.clock)
{
    watch_.Watch(context.Observer(), context_.clock);
}

void UpdateDriver::OnOK()
{
    if (!ready_) {
        CheckInstrument();
        return;
    }
    Update();
}

UpdateOutcome UpdateDriver::Update()
{
    tap_.Restart();
    watch_.Reset();
    Identified identified = IdentifyInstrument();
    if (identified.found != Found::Instrument) {
        const StopReason reason = identified.found == Found::Nothing ? StopReason::NotFound : StopReason::WrongMode;
        return OutcomeOf(ProcedureResult{UpdateStage::Identification, false, reason});
    }

    // The connection stays open while the user chooses.
    tap_.Restart();
    const std::optional<std::string> path = context_.dialog.ChooseFileToOpen(kFileFilter);
    if (!path) {
        log_.ClearLog();
        log_.AppendLine("User Abort...");
        CloseAndDestroy(identified.connection);
        context_.dialog.EnableControl(kSelectButton, true);
        return OutcomeOf(ProcedureResult{UpdateStage::FileChoice, false, StopReason::UserAbort});
    }

    const std::string when = UtcNow();
    const auto start = context_.clock.Now();
    tap_.Restart();
    const bool package = IsPackageName(SplitPath(*path).fileName);
    const ProcedureResult result = package ? HandOverPackage(identified, *path) : InstallImage(identified, *path);
    const UpdateOutcome outcome = OutcomeOf(result);
    if (context_.recorder != nullptr) {
        RecordUpdate(*path, identified, outcome, when, start);
    }
    return outcome;
}

UpdateOutcome UpdateDriver::OutcomeOf(const ProcedureResult& result) const
{
    UpdateOutcome outcome;
    outcome.stage = result.stage;
    outcome.updateModeEntered = result.updateModeEntered;
    outcome.reason = result.reason;
    // A front end that refused the file said no to update mode for the
    // version gate's reason.
    if (result.reason == StopReason::Declined) {
        outcome.refusal = watch_.Refusal();
        if (!outcome.refusal.empty()) {
            outcome.reason = StopReason::VersionGate;
        }
    }
    outcome.texts = tap_.Texts();
    outcome.endingShown = tap_.EndingShown();
    return outcome;
}

void UpdateDriver::RecordUpdate(const std::string& path, const Identified& identified, const UpdateOutcome& outcome,
                                const std::string& when, std::chrono::microseconds start)
{
    UpdateRecord record;
    record.time = when;
    record.serial = identified.serial;
    record.firmwareVersionField = identified.firmwareVersionField;
    // The time the front end took to decide on update mode is not the update's.
    record.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(context_.clock.Now() - start - watch_.deciding).count();
    const std::string fileName = SplitPath(path).fileName;
    DescribeFile(record, path, fileName, IsPackageName(fileName));
    if (SetHistoryResult(record, outcome)) {
        context_.recorder->Record(record);
    }
}

ProcedureResult UpdateDriver::HandOverPackage(Identified& identified, const std::string& path)
{
    // The package procedure opens a connection of its own.
    CloseAndDestroy(identified.connection);
    context_.dialog.EnableControl(kSelectButton, false);
    context_.dialog.EnableControl(kExitButton, false);

    const PathParts parts = SplitPath(path);
    const std::string handOver = HandOverText(parts.directory, identified.serial);

    const ProcedureResult result = InstallPackage(context_, path, SerialFromHandOver(handOver));

    // The package procedure writes nothing into the log: its outcome follows
    // the serial line and "Please wait ...".
    ShowEnding(parts.fileName, result.reason == StopReason::None);
    OfferContinue();
    return result;
}

UpdateDriver::Identification UpdateDriver::Identify()
{
    Identified identified = IdentifyInstrument();
    Identification identification{identified.found, identified.firmwareVersionField, identified.serial};
    CloseAndDestroy(identified.connection);
    return identification;
}

void UpdateDriver::ShowEnding(const std::string& fileName, bool complete)
{
    // The outcome's texts are those before the ending, which is the same for
    // every failure.
    tap_.EndingBegins();
    context_.Observer().Finished(complete);
    if (complete) {
        log_.AppendLine("\"" + fileName + "\" update completed. Please recycle power on instrument");
        log_.AppendLine("now.\r\n");
    } else {
        log_.AppendLine("\"" + fileName + "\" firmware update failure! Please recycle power on");
        log_.AppendLine("instrument now and Try again.\r\n");
    }
    const ButtonAdvice advice(context_.dialog);
    log_.AppendLine("After instrument power is recycled, if you want to update another binary");
    log_.AppendLine("file, please press the \"Continue\" button, otherwise press the \"OK\" button");
    log_.AppendLine("to exit.");
}

void UpdateDriver::OfferContinue()
{
    DialogPort& dialog = context_.dialog;
    dialog.SetCaption(kSelectButton, "Continue");
    dialog.SetCaption(kExitButton, "OK");
    dialog.EnableControl(kExitButton, true);
    dialog.EnableControl(kSelectButton, true);
    // The next press of control 1 checks the instrument before another update.
    ready_ = false;
}

void UpdateDriver::AppendLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        log_.AppendLine(line);
    }
}

}  // namespace meterload

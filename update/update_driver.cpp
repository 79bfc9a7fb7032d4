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

constexpr const char* kFileFilter =
    "ZQ6140 Update Files (*.pak;*.bin)|*.pak;*.bin|ZQ6140 Binary Files(*.bin)|*.bin||";

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
    if (ready_ == 0) {
        CheckInstrument();
        return;
    }
    Update();
}

UpdateOutcome UpdateDriver::Update()
{
    outcome_ = UpdateOutcome{};
    tap_.Restart();
    Identified identified = IdentifyInstrument();
    if (identified.found != Found::Instrument) {
        outcome_.reason = identified.found == Found::Nothing ? StopReason::NotFound : StopReason::WrongMode;
        KeepTexts();
        return outcome_;
    }

    // The connection stays open while the user chooses.
    outcome_.stage = UpdateStage::FileChoice;
    const std::optional<std::string> path = context_.dialog.ChooseFileToOpen(kFileFilter);
    if (!path) {
        log_.ClearLog();
        log_.AppendLine("User Abort...");
        CloseAndDestroy(identified.connection);
        context_.dialog.EnableControl(kSelectButton, true);
        outcome_.reason = StopReason::UserAbort;
        return outcome_;
    }

    const std::string when = UtcNow();
    const auto start = context_.clock.Now();
    Install(identified, *path);
    if (context_.recorder != nullptr) {
        RecordUpdate(*path, identified.serial, identified.firmwareVersionField, when, start);
    }
    return outcome_;
}

void UpdateDriver::Install(Identified& identified, const std::string& path)
{
    tap_.Restart();
    watch_.Reset();
    outcome_.stage = UpdateStage::Checks;
    if (IsPackageName(SplitPath(path).fileName)) {
        HandOverPackage(identified, path);
    } else {
        InstallImage(identified, path);
    }
    if (!outcome_.endingShown) {
        KeepTexts();
    }
    outcome_.updateModeEntered = watch_.entered;
    if (watch_.declined) {
        outcome_.reason = StopReason::Declined;
        outcome_.refusal = watch_.Refusal();
    }
}

void UpdateDriver::KeepTexts()
{
    outcome_.texts = tap_.Texts();
}

void UpdateDriver::RecordUpdate(const std::string& path, const std::string& serial, const std::string& field,
                                const std::string& when, std::chrono::microseconds start)
{
    UpdateRecord record;
    record.time = when;
    record.serial = serial;
    record.firmwareVersionField = field;
    // The time the front end took to decide on update mode is not the update's.
    record.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(context_.clock.Now() - start -
                                                                             watch_.deciding)
                            .count();
    const std::string fileName = SplitPath(path).fileName;
    DescribeFile(record, path, fileName, IsPackageName(fileName));
    if (Conclude(record, outcome_)) {
        context_.recorder->Record(record);
    }
}

void UpdateDriver::HandOverPackage(Identified& identified, const std::string& path)
{
    // The package procedure opens a connection of its own.
    CloseAndDestroy(identified.connection);
    context_.dialog.EnableControl(kSelectButton, false);
    context_.dialog.EnableControl(kExitButton, false);

    const PathParts parts = SplitPath(path);
    const std::string handOver = HandOverText(parts.directory, identified.serial);

    const PackageResult result = InstallPackage(context_, path, SerialFromHandOver(handOver));
    outcome_.stage = result.stage;
    outcome_.reason = result.reason;

    // The package procedure writes nothing into the log: its outcome follows
    // the serial line and "Please wait ...".
    ReportOutcome(parts.fileName, result.reason);
    OfferContinue();
}

UpdateDriver::Identification UpdateDriver::Identify()
{
    Identified identified = IdentifyInstrument();
    Identification identification{identified.found, identified.firmwareVersionField, identified.serial};
    CloseAndDestroy(identified.connection);
    return identification;
}

void UpdateDriver::ReportOutcome(const std::string& fileName, StopReason reason)
{
    const bool complete = reason == StopReason::None;
    if (complete) {
        outcome_.stage = UpdateStage::Finished;
    }
    outcome_.reason = reason;
    KeepTexts();
    outcome_.endingShown = true;
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
    ready_ = 0;
}

void UpdateDriver::AppendLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        log_.AppendLine(line);
    }
}

}  // namespace meterload

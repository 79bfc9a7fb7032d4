// The left button's handler: identify, let the user choose a file, and hand it
// to the single-image or the package procedure; then the common ending.
#include "update/update_driver.h"

#include "update/close_connection.h"
#include "update/package_name.h"
#include "update/package_update.h"
#include "update/split_path.h"
#include "update/update_history.h"

#include <algorithm>

namespace meterload {

namespace {

constexpr const char* kFileFilter =
    "ZQ6140 Update Files (*.pak;*.bin)|*.pak;*.bin|ZQ6140 Binary Files(*.bin)|*.bin||";

}  // namespace

UpdateDriver::UpdateDriver(UpdateContext context)
    : tap_(context.dialog),
      context_(UpdateContext{tap_, context.clock, context.visaLibrary, context.serial, &watch_, context.recorder}),
      log_(context_.dialog, context_.clock)
{
    watch_.Watch(context.Observer());
}

void UpdateDriver::OnOK()
{
    if (ready_ == 0) {
        CheckInstrument();
        return;
    }
    Update();
}

void UpdateDriver::Update()
{
    std::optional<Identified> identified = IdentifyInstrument();
    if (!identified) {
        return;
    }

    // The connection stays open while the user chooses.
    const std::optional<std::string> path = context_.dialog.ChooseFileToOpen(kFileFilter);
    if (!path) {
        log_.ClearLog();
        log_.AppendLine("User Abort...");
        CloseAndDestroy(identified->connection);
        context_.dialog.EnableControl(kSelectButton, true);
        return;
    }

    if (context_.recorder == nullptr) {
        Install(*identified, *path);
        return;
    }
    // The connection is gone by the end; its serial number is kept first.
    const std::string serial = identified->connection->SerialNumber();
    const std::string field = identified->firmwareVersionField;
    const std::string when = UtcNow();
    const auto start = context_.clock.Now();
    Install(*identified, *path);
    RecordUpdate(*path, serial, field, when, start);
}

void UpdateDriver::Install(Identified& identified, const std::string& path)
{
    tap_.Restart();
    watch_.Reset();
    outcome_.reset();
    textsBeforeEnding_.clear();
    if (IsPackageName(SplitPath(path).fileName)) {
        HandOverPackage(identified, path);
    } else {
        InstallImage(identified, path);
    }
}

void UpdateDriver::RecordUpdate(const std::string& path, const std::string& serial, const std::string& field,
                                const std::string& when, std::chrono::microseconds start)
{
    UpdateRecord record;
    record.time = when;
    record.serial = serial;
    record.firmwareVersionField = field;
    record.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(context_.clock.Now() - start).count();
    const std::string fileName = SplitPath(path).fileName;
    DescribeFile(record, path, fileName, IsPackageName(fileName));
    if (Conclude(record, watch_, tap_, textsBeforeEnding_, outcome_)) {
        context_.recorder->Record(record);
    }
}

void UpdateDriver::HandOverPackage(Identified& identified, const std::string& path)
{
    // The package procedure opens a connection of its own.
    CloseAndDestroy(identified.connection);
    context_.dialog.EnableControl(kSelectButton, false);
    context_.dialog.EnableControl(kExitButton, false);

    // The serial number goes back out of the serial line: after its first
    // colon and the blank that follows.
    const std::string& line = identified.serialLine;
    const std::size_t colon = line.find(':');
    const std::string serial =
        colon == std::string::npos ? std::string() : line.substr(std::min(colon + 2, line.size()));
    const PathParts parts = SplitPath(path);
    const std::string handOver = parts.directory + "@" + serial;

    const int result = InstallPackage(context_, path, handOver);

    // The package procedure writes nothing into the log: its outcome follows
    // the serial line and "Please wait ...".
    ReportOutcome(parts.fileName, result == 0);
    OfferContinue();
}

std::optional<UpdateDriver::Identification> UpdateDriver::Identify()
{
    std::optional<Identified> identified = IdentifyInstrument();
    if (!identified) {
        return std::nullopt;
    }
    Identification identification{identified->firmwareVersionField,
                                  identified->connection->SerialNumber()};
    CloseAndDestroy(identified->connection);
    return identification;
}

void UpdateDriver::ReportOutcome(const std::string& fileName, bool complete)
{
    outcome_ = complete;
    textsBeforeEnding_ = tap_.Texts();
    context_.Observer().Finished(complete);
    if (complete) {
        log_.AppendLine("\"" + fileName + "\" update completed. Please recycle power on instrument");
        log_.AppendLine("now.\r\n");
    } else {
        log_.AppendLine("\"" + fileName + "\" firmware update failure! Please recycle power on");
        log_.AppendLine("instrument now and Try again.\r\n");
    }
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

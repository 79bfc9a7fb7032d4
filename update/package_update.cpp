#include "update/package_update.h"

#include "firmware/image_header.h"
#include "firmware/package_plan.h"
#include "firmware/package_validation.h"
#include "firmware/refusal_texts.h"
#include "firmware/version_gate.h"
#include "link/instrument_connection.h"
#include "link/update_link.h"
#include "platform/file.h"
#include "update/identification_reply.h"
#include "update/not_found_text.h"
#include "update/procedure_pauses.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace meterload {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr const char* kCaption = "MeterLoad";
constexpr const char* kFileCaption = "MeterLoad firmware";

using Connection = std::unique_ptr<InstrumentConnection>;
using Buffer = std::array<std::uint8_t, kChunkSize>;

void ShowBox(DialogPort& dialog, const std::string& text, const char* caption)
{
    dialog.ShowMessageBox(BoxOwner::None, text, caption, BoxButtons::Ok, BoxIcon::Exclamation);
}

// Close, then destroy; every way out of InstallPackage ends here.
ProcedureResult CloseAndReturn(Connection& connection, ProcedureResult result)
{
    connection->Close();
    connection.reset();
    return result;
}

// Pauses until `pause` after `from` and returns that deadline. Every pause
// here that follows a write (from the deadline of the write's own pause) or
// another pause, with nothing sent or read between, counts from the deadline
// of the one before and not from its wake-up: late wake-ups then shorten the
// pauses that follow instead of adding up over a transfer, and the instrument
// still gets at least every pause after every write.
microseconds PauseAfter(Clock& clock, microseconds from, milliseconds pause)
{
    const microseconds deadline = from + pause;
    clock.SleepUntil(deadline);
    return deadline;
}

struct RunEnd {
    StopReason stop;          // None when the whole run went out
    std::uint32_t lastChunk;  // 0 when nothing was sent
    microseconds pausedTo;    // where a pause that follows counts from
};

// Sends `size` bytes from the file's current position in 240-byte writes,
// draining the queue and pausing before each full chunk; the last chunk goes
// out at once. The first pause counts from `pausedTo`. It stops when the file
// brings fewer bytes than planned, the observer stops the writes, or the
// library reports the instrument gone; other failed writes go unnoticed here,
// and the reply tells.
RunEnd SendRun(InstrumentConnection& connection, File& file, Buffer& buffer, DialogPort& dialog,
               UpdateObserver& observer, Clock& clock, std::uint64_t size, milliseconds chunkPause,
               microseconds pausedTo)
{
    const ChunkPlan plan = PlanChunks(size);
    const std::uint64_t writes = plan.fullChunks + (plan.lastChunk > 0 ? 1 : 0);
    for (std::uint64_t chunk = 0; chunk < writes; ++chunk) {
        const bool full = chunk < plan.fullChunks;
        const std::uint32_t count = full ? static_cast<std::uint32_t>(kChunkSize) : plan.lastChunk;
        if (full) {
            dialog.DrainMessages();
        }
        if (!ReadExactly(file, buffer.data(), count)) {
            return RunEnd{StopReason::FileUnreadable, 0, pausedTo};
        }
        if (!observer.MayWrite()) {
            return RunEnd{StopReason::Stopped, 0, pausedTo};
        }
        if (full) {
            PauseAfter(clock, pausedTo, chunkPause);
        }
        observer.Written(connection.Write(buffer.data(), count));
        pausedTo = connection.WritePauseEnd();
        // Nothing written after this can reach the instrument, nor any reply come.
        if (connection.ConnectionLost()) {
            return RunEnd{StopReason::ConnectionLost, 0, pausedTo};
        }
    }
    return RunEnd{StopReason::None, plan.lastChunk, pausedTo};
}

// The first reply after an image decides; the one after the EndFrame is read
// and let go. An EndFrame that did not go out leaves the image unfinished in
// the instrument, which is a failure however the replies read. The wait
// counts from `pausedTo`.
StopReason ImageAccepted(InstrumentConnection& connection, Buffer& buffer, Clock& clock, microseconds pausedTo,
                         milliseconds wait)
{
    PauseAfter(clock, pausedTo, wait);
    const std::uint32_t received = connection.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (ReplyStatus(buffer.data()) != kReplyAccepted) {
        return received == 0 ? StopReason::ReplyMissing : StopReason::ReplyRefused;
    }
    if (connection.SendEndFrame() != kEndFrame.size()) {
        return StopReason::EndFrameFailed;
    }
    connection.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    return StopReason::None;
}

// Opens the package and moves to `offset`; null when either fails.
std::unique_ptr<File> OpenAt(const std::string& path, std::int64_t offset)
{
    auto file = File::Open(path);
    if (file && !file->Seek(offset)) {
        file.reset();
    }
    return file;
}

// What the checks before update mode hand to the transfer.
struct Checked {
    StopReason refusal = StopReason::None;
    std::string versionField;
    PackagePlan plan;
};

// The instrument the dialog identified, reached again: found, switched to
// local, and the one the hand-over names.
StopReason CheckInstrument(UpdateContext& context, InstrumentConnection& connection,
                           const std::optional<std::string>& serial)
{
    DialogPort& dialog = context.dialog;
    connection.OpenSelected(context.serial);
    if (connection.FoundCount() == 0) {
        ShowBox(dialog, kDeviceNotFoundText, kCaption);
        return StopReason::NotFound;
    }

    connection.Write(kCommandLocal);
    PauseAfter(context.clock, connection.WritePauseEnd(), pauses::kCommand);

    if (!serial) {
        ShowBox(dialog, "DMM device serial no miss.", kCaption);
        return StopReason::SerialMissing;
    }
    if (connection.SerialNumber() != *serial) {
        ShowBox(dialog, "The firmware update device missed.", kCaption);
        return StopReason::AnotherInstrument;
    }
    return StopReason::None;
}

// The whole package is judged before any part of it: an entry that lies
// outside the file, or a package without entries, never gets near the
// instrument, which stays in its normal mode. Then entry 1's header, against
// the instrument's versions. Plans the sound package once, whole.
StopReason JudgePackage(DialogPort& dialog, File& file, const std::string& versionField, PackagePlan& plan)
{
    const PackageCheck package = CheckPackage(file);
    if (package.damage) {
        ShowBox(dialog, *package.damage, kCaption);
        return StopReason::PackageDamaged;
    }
    const std::int32_t leadOffset = package.table.rows.front().offset;
    const ImageHeader imageHeader = file.Seek(leadOffset) ? DecodeImageHeader(file) : DecodeImageHeader(nullptr, 0);
    if (!IdentityMatches(imageHeader)) {
        ShowBox(dialog, IdentityMismatchBoxText(), kCaption);
        return StopReason::NotZq6140Image;
    }
    if (!VersionGate(versionField, imageHeader)) {
        ShowBox(dialog, GateRefusalBoxText(imageHeader.targetKind), kCaption);
        return StopReason::VersionGate;
    }
    plan = PlanPackage(package.table);
    return StopReason::None;
}

// The instrument, the serial number and the whole package, in the order the
// dialog has always checked them, each refusal in its message box.
Checked CheckInstrumentAndFile(UpdateContext& context, InstrumentConnection& connection, const std::string& packagePath,
                               const std::optional<std::string>& serial)
{
    DialogPort& dialog = context.dialog;
    if (const StopReason refusal = CheckInstrument(context, connection, serial); refusal != StopReason::None) {
        return Checked{refusal, {}, {}};
    }

    auto headerFile = File::Open(packagePath);
    if (!headerFile) {
        ShowBox(dialog, "The first bin file not found.", kFileCaption);
        return Checked{StopReason::FileUnreadable, {}, {}};
    }

    connection.Write(kCommandIdentify);
    PauseAfter(context.clock, connection.WritePauseEnd(), pauses::kCommand);

    const std::optional<std::string> versionField = VersionsField(ReadIdentificationReply(connection));
    if (!versionField) {
        connection.Close();
        headerFile.reset();
        const ButtonAdvice advice(dialog);
        ShowBox(dialog, "Incorrect mode.\nPlease recycle power on instrument and click \"Select\" to try again.",
                kCaption);
        return Checked{StopReason::WrongMode, {}, {}};
    }
    Checked checked{StopReason::None, *versionField, {}};
    checked.refusal = JudgePackage(dialog, *headerFile, *versionField, checked.plan);
    return checked;
}

// Switches the instrument into update mode and lets it settle; the next
// pause counts from the returned deadline.
microseconds EnterUpdateMode(UpdateContext& context, InstrumentConnection& connection)
{
    connection.Write(kCommandSystemUpdate);
    microseconds pausedTo = connection.WritePauseEnd();
    context.Observer().EnteredUpdateMode();
    for (int round = 0; round < pauses::kPackageSettleRounds; ++round) {
        context.dialog.DrainMessages();
        pausedTo = PauseAfter(context.clock, pausedTo, pauses::kPumpStep);
    }
    return pausedTo;
}

// Sends one planned image and waits for the instrument to accept it: entries
// 2 .. entry count whole, entry 1 without its header and with the PadCommand
// its last chunk may need.
StopReason SendImage(UpdateContext& context, InstrumentConnection& connection, const std::string& packagePath,
                     const PlannedImage& image, Buffer& buffer, microseconds pausedTo)
{
    Clock& clock = context.clock;
    auto file = OpenAt(packagePath, image.offset);
    if (!file || (image.skipped > 0 && !ReadExactly(*file, buffer.data(), image.skipped))) {
        return StopReason::FileUnreadable;
    }
    if (image.lead) {
        pausedTo = PauseAfter(clock, pausedTo, pauses::kHeaderSkip);
    }
    const RunEnd sent = SendRun(connection, *file, buffer, context.dialog, context.Observer(), clock, image.bytesToSend,
                                image.lead ? pauses::kLeadChunk : pauses::kEntryChunk, pausedTo);
    file.reset();
    if (sent.stop != StopReason::None) {
        return sent.stop;
    }
    pausedTo = sent.pausedTo;
    // Only the computed size of entry 1's last chunk decides, never what Write reported.
    if (image.lead && NeedsPadCommand(sent.lastChunk)) {
        std::memcpy(buffer.data(), kPadCommand.data(), kPadCommand.size());
        connection.Write(buffer.data(), static_cast<std::uint32_t>(kPadCommand.size()));
        pausedTo = connection.WritePauseEnd();
    }
    return ImageAccepted(connection, buffer, clock, pausedTo, image.lead ? pauses::kLeadReply : pauses::kEntryReply);
}

}  // namespace

ProcedureResult InstallPackage(UpdateContext& context, const std::string& packagePath,
                               const std::optional<std::string>& serial)
{
    auto connection = std::make_unique<InstrumentConnection>(context.clock, context.visaLibrary);
    connection->SetLibraryHeldElsewhere(context.libraryHeldElsewhere);

    const Checked checked = CheckInstrumentAndFile(context, *connection, packagePath, serial);
    if (checked.refusal != StopReason::None) {
        return CloseAndReturn(connection, ProcedureResult{UpdateStage::Checks, false, checked.refusal});
    }
    if (!context.Observer().MayEnterUpdateMode(checked.versionField)) {
        return CloseAndReturn(connection, ProcedureResult{UpdateStage::Checks, false, StopReason::Declined});
    }
    microseconds pausedTo = EnterUpdateMode(context, *connection);

    // Entries 2 .. entry count in table order, then entry 1.
    Buffer buffer{};
    for (const PlannedImage& image : checked.plan.images) {
        const StopReason stop = SendImage(context, *connection, packagePath, image, buffer, pausedTo);
        if (stop != StopReason::None) {
            return CloseAndReturn(connection, ProcedureResult{UpdateStage::Transfer, true, stop});
        }
        // A reply came since: the next pause counts from now.
        pausedTo = context.clock.Now();
    }
    return CloseAndReturn(connection, ProcedureResult{UpdateStage::Finished, true, StopReason::None});
}

}  // namespace meterload

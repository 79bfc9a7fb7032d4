#include "update/package_update.h"

#include "firmware/image_header.h"
#include "firmware/package_validation.h"
#include "firmware/refusal_texts.h"
#include "firmware/update_package.h"
#include "firmware/version_gate.h"
#include "link/instrument_connection.h"
#include "link/update_link.h"
#include "platform/file.h"

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

constexpr milliseconds kCommandPause{30};
constexpr milliseconds kEntryChunkPause{20};  // entries 2 .. entry count
constexpr milliseconds kLeadChunkPause{10};   // entry 1
constexpr milliseconds kHeaderSkipPause{10};
constexpr milliseconds kEntryReplyWait{2000};
constexpr milliseconds kLeadReplyWait{1000};
constexpr milliseconds kSettleStep{100};
constexpr int kSettleRounds = 40;

using Connection = std::unique_ptr<InstrumentConnection>;
using Buffer = std::array<std::uint8_t, kChunkSize>;

void ShowBox(DialogPort& dialog, const std::string& text, const char* caption)
{
    dialog.ShowMessageBox(BoxOwner::None, text, caption, BoxButtons::Ok, BoxIcon::Exclamation);
}

// Close, then destroy; every failing way out of InstallPackage ends here.
int CloseAndFail(Connection& connection)
{
    connection->Close();
    connection.reset();
    return 1;
}

void WriteCommand(InstrumentConnection& connection, std::string_view command)
{
    connection.Write(command.data(), static_cast<std::uint32_t>(command.size()));
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

// Reads exactly `count` bytes; anything less means the package changed
// under us or could not be read, and the chunk must not go out.
bool ReadExactly(File& file, std::uint8_t* buffer, std::size_t count)
{
    return file.Read(buffer, count) == static_cast<std::int64_t>(count);
}

struct RunEnd {
    std::uint32_t lastChunk;  // 0 when nothing was sent
    microseconds pausedTo;    // where a pause that follows counts from
};

// Sends `size` bytes from the file's current position in 240-byte writes,
// draining the queue and pausing before each full chunk; the last chunk goes
// out at once. The first pause counts from `pausedTo`. Nothing when the file
// brought fewer bytes than planned or the observer stopped the writes.
std::optional<RunEnd> SendRun(InstrumentConnection& connection, File& file, Buffer& buffer, DialogPort& dialog,
                              UpdateObserver& observer, Clock& clock, std::uint64_t size,
                              milliseconds chunkPause, microseconds pausedTo)
{
    const ChunkPlan plan = PlanChunks(size);
    for (std::uint64_t chunk = 0; chunk < plan.fullChunks; ++chunk) {
        dialog.DrainMessages();
        if (!ReadExactly(file, buffer.data(), kChunkSize) || !observer.MayWrite()) {
            return std::nullopt;
        }
        PauseAfter(clock, pausedTo, chunkPause);
        observer.Written(connection.Write(buffer.data(), static_cast<std::uint32_t>(kChunkSize)));
        pausedTo = connection.WritePauseEnd();
    }
    if (plan.lastChunk > 0) {
        if (!ReadExactly(file, buffer.data(), plan.lastChunk) || !observer.MayWrite()) {
            return std::nullopt;
        }
        observer.Written(connection.Write(buffer.data(), plan.lastChunk));
        pausedTo = connection.WritePauseEnd();
    }
    return RunEnd{plan.lastChunk, pausedTo};
}

// The first reply after an image decides; the one after the EndFrame is read
// and let go. An EndFrame that did not go out leaves the image unfinished in
// the instrument, which is a failure however the replies read. The wait
// counts from `pausedTo`.
bool ImageAccepted(InstrumentConnection& connection, Buffer& buffer, Clock& clock, microseconds pausedTo,
                   milliseconds wait)
{
    PauseAfter(clock, pausedTo, wait);
    connection.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (ReplyStatus(buffer.data()) != kReplyAccepted) {
        return false;
    }
    if (connection.SendEndFrame() != kEndFrame.size()) {
        return false;
    }
    connection.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    return true;
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

}  // namespace

int InstallPackage(UpdateContext& context, const std::string& packagePath, const std::string& handOver)
{
    DialogPort& dialog = context.dialog;
    Clock& clock = context.clock;

    PackageHeader packageHeader;
    PackageEntry entry;
    Buffer buffer{};

    auto connection = std::make_unique<InstrumentConnection>(clock, context.visaLibrary);
    connection->OpenSelected(context.serial);
    if (connection->FoundCount() == 0) {
        ShowBox(dialog, "ZQ6140 device not found.", kCaption);
        return CloseAndFail(connection);
    }

    WriteCommand(*connection, kCommandLocal);
    PauseAfter(clock, connection->WritePauseEnd(), kCommandPause);

    // The folder may hold "@" itself (C:\fw@lab\): the serial number follows
    // the first "@" after the folder, that is after the last separator.
    const std::size_t folderEnd = handOver.find_last_of("\\/");
    const std::size_t at = handOver.find('@', folderEnd == std::string::npos ? 0 : folderEnd + 1);
    if (at == std::string::npos) {
        ShowBox(dialog, "DMM device serial no miss.", kCaption);
        return CloseAndFail(connection);
    }
    // Everything after the first "@", a second "@" included.
    const std::string expectedSerial = handOver.substr(at + 1);
    if (connection->SerialNumber() != expectedSerial) {
        ShowBox(dialog, "The firmware update device missed.", kCaption);
        return CloseAndFail(connection);
    }

    ReadPackageHeader(packagePath, packageHeader);
    ReadPackageEntry(packagePath, entry, 1);

    auto headerFile = File::Open(packagePath);
    if (!headerFile) {
        ShowBox(dialog, "The first bin file not found.", kFileCaption);
        return CloseAndFail(connection);
    }

    WriteCommand(*connection, kCommandIdentify);
    PauseAfter(clock, connection->WritePauseEnd(), kCommandPause);

    char reply[kIdentifyReplyCapacity] = {};
    const std::uint32_t received =
        connection->Read(reply, static_cast<std::uint32_t>(kIdentifyReplyCapacity));
    std::size_t comma = received;
    while (comma > 0 && reply[comma - 1] != ',') {
        --comma;
    }
    if (comma == 0) {
        CloseAndFail(connection);
        headerFile.reset();
        ShowBox(dialog,
                "Incorrect mode.\nPlease recycle power on instrument and click \"Select\" to try again.",
                kCaption);
        return 1;
    }
    // The field runs from after the comma to the end of the reply, not trimmed.
    char versionField[kIdentifyReplyCapacity] = {};
    std::memcpy(versionField, reply + comma, received - comma);

    // The whole package is judged before any part of it: an entry that lies
    // outside the file, or a package without entries, never gets near the
    // instrument, which stays in its normal mode.
    if (const auto damage = ValidatePackage(*headerFile)) {
        ShowBox(dialog, *damage, kCaption);
        headerFile.reset();
        return CloseAndFail(connection);
    }

    ImageHeader imageHeader = headerFile->Seek(entry.Offset())
                                  ? DecodeImageHeader(*headerFile)
                                  : DecodeImageHeader(nullptr, 0);
    if (!IdentityMatches(imageHeader)) {
        ShowBox(dialog, IdentityMismatchBoxText(), kCaption);
        headerFile.reset();
        return CloseAndFail(connection);
    }
    if (!VersionGate(versionField, imageHeader)) {
        ShowBox(dialog, GateRefusalBoxText(imageHeader.targetKind), kCaption);
        headerFile.reset();
        return CloseAndFail(connection);
    }
    headerFile.reset();

    if (!context.Observer().MayEnterUpdateMode(versionField)) {
        return CloseAndFail(connection);
    }
    WriteCommand(*connection, kCommandSystemUpdate);
    microseconds pausedTo = connection->WritePauseEnd();
    context.Observer().EnteredUpdateMode();
    for (int round = 0; round < kSettleRounds; ++round) {
        dialog.DrainMessages();
        pausedTo = PauseAfter(clock, pausedTo, kSettleStep);
    }

    // Entries 2 .. entry count go out whole, in table order.
    for (std::int32_t n = 2; n <= packageHeader.EntryCount(); ++n) {
        ReadPackageEntry(packagePath, entry, n);
        if (entry.Size() < 0) {
            return CloseAndFail(connection);
        }
        auto imageFile = OpenAt(packagePath, entry.Offset());
        if (!imageFile) {
            return CloseAndFail(connection);
        }
        const auto sent = SendRun(*connection, *imageFile, buffer, dialog, context.Observer(), clock,
                                  static_cast<std::uint64_t>(entry.Size()), kEntryChunkPause, pausedTo);
        imageFile.reset();
        if (!sent) {
            return CloseAndFail(connection);
        }
        if (!ImageAccepted(*connection, buffer, clock, sent->pausedTo, kEntryReplyWait)) {
            return CloseAndFail(connection);
        }
        // A reply came since: the next pause counts from now.
        pausedTo = clock.Now();
    }

    // Entry 1 last, without its header.
    ReadPackageEntry(packagePath, entry, 1);
    if (entry.Size() < static_cast<std::int32_t>(kImageHeaderSize)) {
        return CloseAndFail(connection);
    }
    auto leadFile = OpenAt(packagePath, entry.Offset());
    if (!leadFile || !ReadExactly(*leadFile, buffer.data(), kImageHeaderSize)) {
        return CloseAndFail(connection);
    }
    pausedTo = PauseAfter(clock, pausedTo, kHeaderSkipPause);
    const auto sent =
        SendRun(*connection, *leadFile, buffer, dialog, context.Observer(), clock,
                static_cast<std::uint64_t>(entry.Size()) - kImageHeaderSize, kLeadChunkPause, pausedTo);
    leadFile.reset();
    if (!sent) {
        return CloseAndFail(connection);
    }
    pausedTo = sent->pausedTo;
    // Only the computed size of entry 1's last chunk decides, never what Write reported.
    if (NeedsPadCommand(sent->lastChunk)) {
        std::memcpy(buffer.data(), kPadCommand.data(), kPadCommand.size());
        connection->Write(buffer.data(), static_cast<std::uint32_t>(kPadCommand.size()));
        pausedTo = connection->WritePauseEnd();
    }
    if (!ImageAccepted(*connection, buffer, clock, pausedTo, kLeadReplyWait)) {
        return CloseAndFail(connection);
    }

    connection->Close();
    connection.reset();
    return 0;
}

}  // namespace meterload

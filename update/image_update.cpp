// The single-image update: update mode, header checks, the 240-byte stream,
// the two status replies, and the ending that every finished transfer shares.
#include "firmware/image_header.h"
#include "firmware/refusal_texts.h"
#include "firmware/version_gate.h"
#include "link/update_link.h"
#include "update/close_connection.h"
#include "update/procedure_pauses.h"
#include "update/split_path.h"
#include "update/update_driver.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace meterload {

namespace {

template <typename Bytes>
std::uint32_t WriteFromChunk(InstrumentConnection& connection, std::array<std::uint8_t, kChunkSize>& chunk,
                             const Bytes& bytes)
{
    std::memcpy(chunk.data(), bytes.data(), bytes.size());
    return connection.Write(chunk.data(), static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace

ProcedureResult UpdateDriver::InstallImage(Identified& identified, const std::string& path)
{
    std::unique_ptr<InstrumentConnection>& connection = identified.connection;
    const std::string fileName = SplitPath(path).fileName;

    if (!context_.Observer().MayEnterUpdateMode(identified.firmwareVersionField)) {
        CloseAndDestroy(connection);
        context_.dialog.EnableControl(kSelectButton, true);
        return ProcedureResult{UpdateStage::Checks, false, StopReason::Declined};
    }
    connection->Write(kCommandSystemUpdate);
    // From here on the instrument is in its update mode.
    context_.Observer().EnteredUpdateMode();
    log_.WaitPumping(pauses::kImageSettleSteps);

    std::unique_ptr<File> image = File::Open(path, File::Sharing::DenyWrite);
    if (!image) {
        log_.ReplaceLog("Couldn't open source file.");
        CloseAndDestroy(connection);
        context_.dialog.EnableControl(kSelectButton, true);
        return ProcedureResult{UpdateStage::Transfer, true, StopReason::FileUnreadable};
    }

    // The header is checked, never sent: the body starts right after it.
    image->Seek(0);
    const ImageHeader header = DecodeImageHeader(*image);
    if (!IdentityMatches(header)) {
        AppendLines(IdentityMismatchLogLines());
        return StopRefused(StopReason::NotZq6140Image, image, connection);
    }
    if (!VersionGate(identified.firmwareVersionField, header)) {
        AppendLines(GateRefusalLogLines(header.targetKind));
        return StopRefused(StopReason::VersionGate, image, connection);
    }

    const StopReason reason = Transfer(*connection, *image);
    return EndTransfer(image, connection, fileName, reason);
}

ProcedureResult UpdateDriver::StopRefused(StopReason reason, std::unique_ptr<File>& image,
                                          std::unique_ptr<InstrumentConnection>& connection)
{
    image.reset();
    CloseAndDestroy(connection);
    // Only leaving the tool and recycling power brings the instrument back.
    context_.dialog.HideControl(kSelectButton);
    return ProcedureResult{UpdateStage::Transfer, true, reason};
}

StopReason UpdateDriver::Transfer(InstrumentConnection& connection, File& image)
{
    DialogPort& dialog = context_.dialog;
    dialog.EnableControl(kExitButton, false);
    // Repaint now: the window does not respond during the data writes.
    dialog.InvalidateAll();
    log_.PumpMessages();
    log_.WaitPumping(pauses::kImageSettleSteps);

    ChunkBuffer chunk{};
    const BodySent sent = SendBody(connection, image, chunk);
    // Stopped: nothing more goes out, not even the PadCommand.
    if (sent.stop == StopReason::Stopped) {
        return sent.stop;
    }
    const bool writeFailed = sent.stop == StopReason::WriteFailed || sent.stop == StopReason::ConnectionLost;
    if (!writeFailed && NeedsPadCommand(sent.lastWriteCount)) {
        WriteFromChunk(connection, chunk, kPadCommand);
    }
    if (sent.stop != StopReason::None) {
        return sent.stop;
    }
    return AwaitAcceptance(connection, chunk);
}

// The image's body in writes of up to 240 bytes, 15 ms apart, until the file
// ends or a write or read goes wrong.
UpdateDriver::BodySent UpdateDriver::SendBody(InstrumentConnection& connection, File& image, ChunkBuffer& chunk)
{
    bool wroteData = false;
    std::uint32_t lastWriteCount = 0;
    for (;;) {
        const std::int64_t k = image.Read(chunk.data(), chunk.size());
        if (k == 0) {
            return BodySent{StopReason::None, lastWriteCount};
        }
        if (k < 0) {
            // A read error is not the end of the image: sending what came
            // before it would install a partial image.
            log_.AppendLine("Couldn't read source file.");
            return BodySent{StopReason::FileUnreadable, lastWriteCount};
        }
        if (!context_.Observer().MayWrite()) {
            return BodySent{StopReason::Stopped, lastWriteCount};
        }
        // The 5 ms count from the deadline of the previous write's 10 ms pause,
        // not from when that pause woke: a late wake-up shortens this pause
        // instead of adding to the transfer, and the data writes still come at
        // least 15 ms apart.
        const std::chrono::microseconds pauseFrom = wroteData ? connection.WritePauseEnd() : context_.clock.Now();
        context_.clock.SleepUntil(pauseFrom + pauses::kImageChunk);
        const std::uint32_t count = static_cast<std::uint32_t>(k);
        const std::uint32_t w = connection.Write(chunk.data(), count);
        context_.Observer().Written(w);
        wroteData = true;
        lastWriteCount = w;
        if (w == 0) {
            log_.AppendLine("the 1st error -- in writing progress.");
            log_.AppendLine("\r\nUpgrade failure....Please restart ZQ6140 and try again.");
            return BodySent{connection.ConnectionLost() ? StopReason::ConnectionLost : StopReason::WriteFailed, w};
        }
        if (w != count) {
            log_.AppendLine("the 1-1st Error -- in writing progress.");
            log_.AppendLine("\r\nUpgrade failure....during writing progress.");
            return BodySent{StopReason::ShortWrite, w};
        }
    }
}

// The reply to the image, the EndFrame and the reply to that, read into the
// buffer the data went out from.
StopReason UpdateDriver::AwaitAcceptance(InstrumentConnection& connection, ChunkBuffer& chunk)
{
    StopReason stop = StopReason::ReplyRefused;
    log_.WaitPumping(pauses::kImageReplySteps);
    std::uint32_t received = connection.Read(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    if (ReplyStatus(chunk.data()) != kReplyAccepted) {
        log_.AppendLine("the 3nd error -- Checksum error.");
    } else if (WriteFromChunk(connection, chunk, kEndFrame) != kEndFrame.size()) {
        // A frame that did not go out whole cannot close the transfer.
        log_.AppendLine("the 2nd error -- send EOF.");
        log_.AppendLine("Upgrade failure...Please restart ZQ6140 and try again.");
        stop = StopReason::EndFrameFailed;
    } else {
        log_.WaitPumping(pauses::kImageReplySteps);
        received = connection.Read(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
        if (ReplyStatus(chunk.data()) == kReplyAccepted) {
            return StopReason::None;
        }
        log_.AppendLine("the 2nd error -- check EOF.");
        log_.AppendLine("Upgrade failure...Please restart ZQ6140 and try again.");
    }
    if (stop == StopReason::ReplyRefused && received == 0) {
        stop = StopReason::ReplyMissing;
    }

    // Refused: the reply's first byte as received names the error, so a reply
    // behind the 0xAB prefix (or the frame left in the buffer) names none.
    if (const char* name = ReplyCodeName(chunk[0])) {
        log_.AppendLine(name);
    }
    return stop;
}

ProcedureResult UpdateDriver::EndTransfer(std::unique_ptr<File>& image,
                                          std::unique_ptr<InstrumentConnection>& connection,
                                          const std::string& fileName, StopReason reason)
{
    image.reset();
    log_.ClearLog();
    const bool complete = reason == StopReason::None;
    ShowEnding(fileName, complete);
    CloseAndDestroy(connection);
    OfferContinue();
    return ProcedureResult{complete ? UpdateStage::Finished : UpdateStage::Transfer, true, reason};
}

}  // namespace meterload

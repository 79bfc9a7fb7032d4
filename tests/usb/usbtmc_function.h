// The device side of one emulated ZQ6140 on USB: its USBTMC interface over
// the simulated instrument's model. Bulk-out packets are put together into
// messages for the model, its replies go out as bulk-in packets, and the
// class requests abort and clear as the instrument does, with switches for
// the faults a real device or bus shows.
#pragma once

#include "sim/instrument_model.h"
#include "visa_surface/transcript.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meterload::testing {

// How a reply that fills its last packet ends.
enum class FullPacketEnd {
    ZeroLengthPacket,  // as USB asks
    Padding,           // a short packet of alignment zeros after it
    Nothing,           // neither: the transfer ends only when the host's buffer is full
};

// Faults of a device or bus, and the quirks of real instruments that the
// transport must ride over; each a switch of the device model.
struct UsbFaults {
    FullPacketEnd fullPacketEnd = FullPacketEnd::ZeroLengthPacket;
    int silentRequests = 0;  // reply requests left unanswered (the request stays outstanding)
    int wrongTags = 0;       // replies with a bTag never sent
    int wrongMsgIds = 0;     // replies with another MsgID
    bool neverEndOfMessage = false;
    int haltedBulkOuts = 0;                         // bulk-out transfers that stall
    std::optional<std::size_t> splitReplyAfter;     // data bytes in a reply's first transfer
    std::optional<std::uint64_t> unplugAfterBytes;  // of bulk-out data, headers included
    int staleReplies = 0;                           // replies preceded by a leftover one with an earlier bTag
    int strayZeroLengthPackets = 0;                 // replies preceded by a zero-length packet
    int pendingChecks = 0;                          // PENDING answers to each abort's or clear's status check
    bool refuseClear = false;                       // INITIATE_CLEAR answered STATUS_FAILED
    int protocolErrorsAtUnplug = 0;  // transfers failing with EPROTO once unplugged, before the node goes
    bool renControl = true;          // GET_CAPABILITIES declares USB488 with REN_CONTROL
};

// What a bulk-out transfer came to.
enum class OutResult { Done, Halted, Unplugged };

class UsbtmcFunction {
public:
    static constexpr std::size_t kPacket = 64;
    static constexpr std::uint8_t kBulkOut = 0x01;
    static constexpr std::uint8_t kBulkIn = 0x82;

    // `record` receives each event line for the transcript.
    UsbtmcFunction(zqsim::InstrumentModel& model, std::size_t instrument, UsbFaults faults,
                   std::function<void(const visa_surface::EventLine&)> record);

    // One bulk-out transfer of `size` bytes, cut into packets; `accepted`
    // is what the device took before a stall or the unplug.
    OutResult BulkOut(const std::uint8_t* data, std::size_t size, std::size_t& accepted);
    // The packets that fill a bulk-in transfer of `capacity` bytes: up to a
    // short packet or the full buffer. Nothing while neither has come, unless
    // `cancelled`: a transfer the host gives up on keeps what arrived.
    std::optional<std::vector<std::uint8_t>> BulkIn(std::size_t capacity, bool cancelled = false);
    // A class or standard request on the control endpoint: its reply bytes,
    // nothing when the device stalls it.
    std::optional<std::vector<std::uint8_t>> Control(const std::uint8_t setup[8]);

    void ClearHalt(std::uint8_t endpoint);
    bool Unplugged() const { return unplugged_; }
    // True, once per call, while an unplugged device's transfers still fail
    // with a protocol error rather than "no device".
    bool TakeProtocolError();
    void Unplug();
    const std::string& Serial() const;
    // The sizes of the bulk-out packets as they arrived, for the packet
    // boundaries of each message.
    const std::vector<std::size_t>& OutPackets() const { return outPackets_; }

private:
    void Packet(const std::uint8_t* data, std::size_t size);
    void Message(const std::vector<std::uint8_t>& message);
    void Answer(std::uint8_t tag, std::uint32_t maxCount);
    void Queue(const std::vector<std::uint8_t>& transfer);
    std::vector<std::uint8_t> ReplyTransfer(std::uint8_t tag, const std::string& data, bool endOfMessage) const;
    // The status check's answer: PENDING while the quirk says so.
    std::vector<std::uint8_t> StatusCheck(std::size_t size);

    zqsim::InstrumentModel& model_;
    std::size_t instrument_;
    UsbFaults faults_;
    std::function<void(const visa_surface::EventLine&)> record_;
    std::vector<std::uint8_t> message_;  // the bulk-out message being put together
    std::size_t messageSize_ = 0;        // its header's size, padding included
    std::deque<std::vector<std::uint8_t>> inPackets_;
    std::vector<std::size_t> outPackets_;
    std::uint64_t outBytes_ = 0;
    bool halted_ = false;
    bool unplugged_ = false;
    std::uint8_t outstandingTag_ = 0;  // of a request not answered yet
    int pendingLeft_ = 0;
};

}  // namespace meterload::testing

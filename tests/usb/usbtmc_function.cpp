#include "tests/usb/usbtmc_function.h"

#include "tests/usb/usb_descriptors.h"
#include "visa_surface/transcript.h"
#include "visa_surface/visa_constants.h"

#include <algorithm>

namespace meterload::testing {
namespace {

constexpr std::size_t kHeader = 12;
constexpr std::uint8_t kStatusSuccess = 0x01;
constexpr std::uint8_t kStatusPending = 0x02;
constexpr std::uint8_t kStatusFailed = 0x80;
constexpr std::uint8_t kStatusNotInProgress = 0x81;

std::size_t Aligned(std::size_t size)
{
    return (size + 3) / 4 * 4;
}

std::uint32_t Little32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

UsbtmcFunction::UsbtmcFunction(zqsim::InstrumentModel& model, std::size_t instrument, UsbFaults faults,
                               std::function<void(const visa_surface::EventLine&)> record)
    : model_(model), instrument_(instrument), faults_(faults), record_(std::move(record))
{
}

const std::string& UsbtmcFunction::Serial() const
{
    return model_.Instruments().at(instrument_).serial;
}

void UsbtmcFunction::Unplug()
{
    unplugged_ = true;
    inPackets_.clear();
    record_(visa_surface::EventLine("unplug").Add("serial", Serial()));
}

void UsbtmcFunction::ClearHalt(std::uint8_t endpoint)
{
    if (endpoint == kBulkOut) {
        halted_ = false;
    }
}

OutResult UsbtmcFunction::BulkOut(const std::uint8_t* data, std::size_t size, std::size_t& accepted)
{
    accepted = 0;
    if (halted_ || faults_.haltedBulkOuts > 0) {
        if (faults_.haltedBulkOuts > 0) {
            --faults_.haltedBulkOuts;
        }
        halted_ = true;
        record_(visa_surface::EventLine("stall").Add("serial", Serial()));
        return OutResult::Halted;
    }
    // Packets of a transfer: full ones, then the short one that ends it (a
    // transfer of whole packets carries no zero-length packet of its own).
    for (std::size_t offset = 0; offset < size || size == 0; offset += kPacket) {
        std::size_t packet = std::min(kPacket, size - offset);
        if (faults_.unplugAfterBytes && outBytes_ + packet > *faults_.unplugAfterBytes) {
            accepted += static_cast<std::size_t>(*faults_.unplugAfterBytes - outBytes_);
            Unplug();
            return OutResult::Unplugged;
        }
        outBytes_ += packet;
        accepted += packet;
        outPackets_.push_back(packet);
        Packet(data + offset, packet);
        if (unplugged_) {
            return OutResult::Unplugged;
        }
        if (halted_) {
            return OutResult::Halted;
        }
        if (size == 0) {
            break;
        }
    }
    return OutResult::Done;
}

void UsbtmcFunction::Packet(const std::uint8_t* data, std::size_t size)
{
    message_.insert(message_.end(), data, data + size);
    if (message_.size() >= kHeader && messageSize_ == 0) {
        const std::uint32_t transferSize = message_[0] == 1 ? Little32(&message_[4]) : 0;
        messageSize_ = message_[0] == 1 ? kHeader + Aligned(transferSize) : kHeader;
    }
    const bool complete = messageSize_ != 0 && message_.size() >= messageSize_;
    if (complete || size < kPacket) {
        if (complete) {
            Message(message_);
        }
        // A short packet ends the transfer: a message cut short is dropped.
        message_.clear();
        messageSize_ = 0;
    }
}

void UsbtmcFunction::Message(const std::vector<std::uint8_t>& message)
{
    const std::uint8_t id = message[0];
    const std::uint8_t tag = message[1];
    if (tag == 0 || message[2] != static_cast<std::uint8_t>(~tag)) {
        record_(visa_surface::EventLine("bad_header").Add("serial", Serial()));
        return;
    }
    if (id == 2) {
        Answer(tag, Little32(&message[4]));
        return;
    }
    if (id != 1) {
        return;
    }
    const std::uint32_t count = Little32(&message[4]);
    const zqsim::WriteOutcome outcome = model_.Write(instrument_, message.data() + kHeader, count);
    visa_surface::EventLine line("viWrite");
    line.Add("serial", Serial()).Add("count", count).AddStatus(outcome.status).Add("returned", outcome.returned);
    line.Add("kind", zqsim::WriteKindName(outcome.kind)).AddHex("data", message.data() + kHeader, count);
    record_(line);
    if (outcome.status == visa::VI_ERROR_IO) {
        halted_ = true;  // the device refuses the data by stalling
    } else if (outcome.status == visa_surface::VI_ERROR_CONN_LOST || model_.Instruments().at(instrument_).unplugged) {
        Unplug();
    }
}

std::vector<std::uint8_t> UsbtmcFunction::ReplyTransfer(std::uint8_t tag, const std::string& data,
                                                        bool endOfMessage) const
{
    const auto size = static_cast<std::uint32_t>(data.size());
    std::vector<std::uint8_t> transfer(Aligned(kHeader + size), 0);
    std::copy(data.begin(), data.end(), transfer.begin() + kHeader);
    transfer[0] = 2;
    transfer[1] = tag;
    transfer[2] = static_cast<std::uint8_t>(~tag);
    for (std::size_t i = 0; i < 4; ++i) {
        transfer[4 + i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
    }
    transfer[8] = endOfMessage ? 1 : 0;
    return transfer;
}

void UsbtmcFunction::Answer(std::uint8_t tag, std::uint32_t maxCount)
{
    visa_surface::EventLine line("viRead");
    line.Add("serial", Serial()).Add("count", maxCount);
    if (faults_.silentRequests > 0) {
        --faults_.silentRequests;
        outstandingTag_ = tag;
        record_(line.Add("silent", "1"));
        return;
    }
    const zqsim::ReadOutcome outcome = model_.Read(instrument_, maxCount);
    if (outcome.status == visa_surface::VI_ERROR_CONN_LOST) {
        Unplug();
        return;
    }
    if (outcome.timedOut) {
        outstandingTag_ = tag;
        record_(line.Add("silent", "1"));
        return;
    }
    outstandingTag_ = 0;
    const auto size = static_cast<std::uint32_t>(outcome.bytes.size());
    std::vector<std::uint8_t> transfer =
        ReplyTransfer(tag, std::string(outcome.bytes.begin(), outcome.bytes.end()),
                      outcome.status == visa::VI_SUCCESS && !faults_.neverEndOfMessage);
    if (faults_.wrongMsgIds > 0) {
        --faults_.wrongMsgIds;
        transfer[0] = 0x7F;
    } else if (faults_.wrongTags > 0) {
        --faults_.wrongTags;
        transfer[1] = static_cast<std::uint8_t>(tag == 255 ? 1 : tag + 1);
        transfer[2] = static_cast<std::uint8_t>(~transfer[1]);
    }
    line.AddStatus(outcome.status).Add("returned", size);
    line.AddHex("data", reinterpret_cast<const unsigned char*>(outcome.bytes.data()), size);
    record_(line);
    if (faults_.staleReplies > 0) {
        // What an interrupted exchange left: the answer to a request before this one.
        --faults_.staleReplies;
        const auto old = static_cast<std::uint8_t>(tag > 3 ? tag - 3 : tag + 252);
        Queue(ReplyTransfer(old, "stale reply\n", true));
        record_(visa_surface::EventLine("stale").Add("serial", Serial()).Add("tag", old));
    }
    if (faults_.strayZeroLengthPackets > 0) {
        --faults_.strayZeroLengthPackets;
        inPackets_.emplace_back();
        record_(visa_surface::EventLine("stray_zlp").Add("serial", Serial()));
    }
    if (faults_.splitReplyAfter && *faults_.splitReplyAfter < size) {
        const auto cut = static_cast<std::ptrdiff_t>(kHeader + *faults_.splitReplyAfter);
        Queue(std::vector<std::uint8_t>(transfer.begin(), transfer.begin() + cut));
        Queue(std::vector<std::uint8_t>(transfer.begin() + cut, transfer.end()));
    } else {
        Queue(transfer);
    }
}

void UsbtmcFunction::Queue(const std::vector<std::uint8_t>& transfer)
{
    for (std::size_t offset = 0; offset < transfer.size(); offset += kPacket) {
        const auto begin = transfer.begin() + static_cast<std::ptrdiff_t>(offset);
        const auto end = transfer.begin() + static_cast<std::ptrdiff_t>(std::min(transfer.size(), offset + kPacket));
        inPackets_.emplace_back(begin, end);
    }
    if (transfer.size() % kPacket == 0) {
        switch (faults_.fullPacketEnd) {
        case FullPacketEnd::ZeroLengthPacket: inPackets_.emplace_back(); break;
        case FullPacketEnd::Padding: inPackets_.emplace_back(4, 0); break;
        case FullPacketEnd::Nothing: break;
        }
    }
}

std::optional<std::vector<std::uint8_t>> UsbtmcFunction::BulkIn(std::size_t capacity, bool cancelled)
{
    if (inPackets_.empty() || unplugged_) {
        return std::nullopt;
    }
    // A transfer completes at a short packet or a full buffer, as on a
    // real host controller; packets alone do not end it.
    std::size_t size = 0;
    std::size_t packets = 0;
    bool complete = false;
    for (const std::vector<std::uint8_t>& packet : inPackets_) {
        if (size + packet.size() > capacity) {
            complete = true;
            break;
        }
        size += packet.size();
        ++packets;
        if (packet.size() < kPacket || size == capacity) {
            complete = true;
            break;
        }
    }
    if (!complete && !cancelled) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < packets; ++i) {
        data.insert(data.end(), inPackets_.front().begin(), inPackets_.front().end());
        inPackets_.pop_front();
    }
    return data;
}

bool UsbtmcFunction::TakeProtocolError()
{
    if (!unplugged_ || faults_.protocolErrorsAtUnplug <= 0) {
        return false;
    }
    --faults_.protocolErrorsAtUnplug;
    record_(visa_surface::EventLine("eproto").Add("serial", Serial()));
    return true;
}

std::vector<std::uint8_t> UsbtmcFunction::StatusCheck(std::size_t size)
{
    std::vector<std::uint8_t> reply(size, 0);
    reply[0] = kStatusSuccess;
    if (pendingLeft_ > 0) {
        --pendingLeft_;
        reply[0] = kStatusPending;
    }
    return reply;
}

std::optional<std::vector<std::uint8_t>> UsbtmcFunction::Control(const std::uint8_t setup[8])
{
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const auto value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
    const auto length = static_cast<std::size_t>(setup[6] | setup[7] << 8);
    std::optional<std::vector<std::uint8_t>> reply;
    if (requestType == 0x80 && request == 0) {
        reply = std::vector<std::uint8_t>{0, 0};  // GET_STATUS: bus powered, no remote wakeup
    } else if (requestType == 0x80 && request == 6) {
        switch (value >> 8) {
        case 1: reply = DeviceDescriptor(); break;
        case 2: reply = ConfigurationDescriptor(); break;
        case 3: reply = StringDescriptor(static_cast<std::uint8_t>(value & 0xFF), Serial()); break;
        default: break;
        }
    } else if (requestType == 0xA2 || requestType == 0xA1) {
        visa_surface::EventLine line("control");
        line.Add("serial", Serial()).Add("request", request);
        switch (request) {
        case 1:  // INITIATE_ABORT_BULK_OUT
            message_.clear();
            messageSize_ = 0;
            pendingLeft_ = faults_.pendingChecks;
            reply = std::vector<std::uint8_t>{kStatusSuccess, setup[2]};
            break;
        case 3:  // INITIATE_ABORT_BULK_IN
            model_.Instruments().at(instrument_).queuedReply.clear();
            if (inPackets_.empty() && outstandingTag_ != setup[2]) {
                reply = std::vector<std::uint8_t>{kStatusNotInProgress, 0};
            } else {
                inPackets_.clear();
                outstandingTag_ = 0;
                inPackets_.emplace_back();  // the short packet that ends the aborted transfer
                pendingLeft_ = faults_.pendingChecks;
                reply = std::vector<std::uint8_t>{kStatusSuccess, setup[2]};
            }
            break;
        case 2:  // CHECK_ABORT_BULK_OUT_STATUS
        case 4:  // CHECK_ABORT_BULK_IN_STATUS
            reply = StatusCheck(8);
            break;
        case 5:  // INITIATE_CLEAR
            if (faults_.refuseClear) {
                reply = std::vector<std::uint8_t>{kStatusFailed};
                break;
            }
            message_.clear();
            messageSize_ = 0;
            inPackets_.clear();
            outstandingTag_ = 0;
            model_.Instruments().at(instrument_).queuedReply.clear();
            pendingLeft_ = faults_.pendingChecks;
            reply = std::vector<std::uint8_t>{kStatusSuccess};
            break;
        case 6:  // CHECK_CLEAR_STATUS
            reply = StatusCheck(2);
            break;
        case 7: {  // GET_CAPABILITIES
            std::vector<std::uint8_t> capabilities(0x18, 0);
            capabilities[0] = kStatusSuccess;
            capabilities[2] = 0x00;  // bcdUSBTMC 1.00
            capabilities[3] = 0x01;
            capabilities[12] = 0x00;  // bcdUSB488 1.00
            capabilities[13] = 0x01;
            capabilities[14] = static_cast<std::uint8_t>(0x04 | (faults_.renControl ? 0x02 : 0x00));
            reply = capabilities;
            break;
        }
        case 160:  // REN_CONTROL
            if (faults_.renControl) {
                line.Add("value", value);
                reply = std::vector<std::uint8_t>{kStatusSuccess};
            }
            break;
        default: break;
        }
        record_(line.Add("answer", reply ? (*reply)[0] : 0));
    }
    if (reply && reply->size() > length) {
        reply->resize(length);
    }
    return reply;
}

}  // namespace meterload::testing

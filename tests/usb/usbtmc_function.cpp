#include "tests/usb/usbtmc_function.h"

#include "tests/usb/usb_descriptors.h"
#include "visa_surface/transcript.h"
#include "visa_surface/visa_constants.h"

#include <algorithm>

namespace meterload::testing {
namespace {

constexpr std::size_t kHeader = 12;
constexpr std::uint8_t kStatusSuccess = 0x01;
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

void UsbtmcFunction::Answer(std::uint8_t tag, std::uint32_t maxCount)
{
    visa_surface::EventLine line("viRead");
    line.Add("serial", Serial()).Add("count", maxCount);
    if (faults_.silentRequests > 0) {
        --faults_.silentRequests;
        record_(line.Add("silent", "1"));
        return;
    }
    const zqsim::ReadOutcome outcome = model_.Read(instrument_, maxCount);
    if (outcome.status == visa_surface::VI_ERROR_CONN_LOST) {
        Unplug();
        return;
    }
    if (outcome.timedOut) {
        record_(line.Add("silent", "1"));
        return;
    }
    const auto size = static_cast<std::uint32_t>(outcome.bytes.size());
    std::vector<std::uint8_t> transfer(Aligned(kHeader + size), 0);
    std::copy(outcome.bytes.begin(), outcome.bytes.end(), transfer.begin() + kHeader);
    transfer[0] = 2;
    transfer[1] = tag;
    if (faults_.wrongMsgIds > 0) {
        --faults_.wrongMsgIds;
        transfer[0] = 0x7F;
    } else if (faults_.wrongTags > 0) {
        --faults_.wrongTags;
        transfer[1] = static_cast<std::uint8_t>(tag == 255 ? 1 : tag + 1);
    }
    transfer[2] = static_cast<std::uint8_t>(~transfer[1]);
    for (std::size_t i = 0; i < 4; ++i) {
        transfer[4 + i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
    }
    const bool endOfMessage = outcome.status == visa::VI_SUCCESS && !faults_.neverEndOfMessage;
    transfer[8] = endOfMessage ? 1 : 0;
    line.AddStatus(outcome.status).Add("returned", size);
    line.AddHex("data", reinterpret_cast<const unsigned char*>(outcome.bytes.data()), size);
    record_(line);
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
        // A transfer that fills its packets ends with a zero-length packet,
        // or with alignment padding that makes a short one.
        inPackets_.push_back(faults_.zeroLengthPacket ? std::vector<std::uint8_t>()
                                                      : std::vector<std::uint8_t>(4, 0));
    }
}

std::optional<std::vector<std::uint8_t>> UsbtmcFunction::BulkIn(std::size_t capacity)
{
    if (inPackets_.empty() || unplugged_) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    while (!inPackets_.empty() && data.size() + inPackets_.front().size() <= capacity) {
        const std::vector<std::uint8_t> packet = inPackets_.front();
        inPackets_.pop_front();
        data.insert(data.end(), packet.begin(), packet.end());
        if (packet.size() < kPacket) {
            break;
        }
    }
    return data;
}

std::optional<std::vector<std::uint8_t>> UsbtmcFunction::Control(const std::uint8_t setup[8])
{
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const auto value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
    const auto length = static_cast<std::size_t>(setup[6] | setup[7] << 8);
    std::optional<std::vector<std::uint8_t>> reply;
    if (requestType == 0x80 && request == 6) {
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
            reply = std::vector<std::uint8_t>{kStatusSuccess, setup[2]};
            break;
        case 3:  // INITIATE_ABORT_BULK_IN
            model_.Instruments().at(instrument_).queuedReply.clear();
            if (inPackets_.empty()) {
                reply = std::vector<std::uint8_t>{kStatusNotInProgress, 0};
            } else {
                inPackets_.clear();
                inPackets_.emplace_back();  // the short packet that ends the aborted transfer
                reply = std::vector<std::uint8_t>{kStatusSuccess, setup[2]};
            }
            break;
        case 2:  // CHECK_ABORT_BULK_OUT_STATUS
        case 4:  // CHECK_ABORT_BULK_IN_STATUS
            reply = std::vector<std::uint8_t>{kStatusSuccess, 0, 0, 0, 0, 0, 0, 0};
            break;
        case 5:  // INITIATE_CLEAR
            message_.clear();
            messageSize_ = 0;
            inPackets_.clear();
            model_.Instruments().at(instrument_).queuedReply.clear();
            reply = std::vector<std::uint8_t>{kStatusSuccess};
            break;
        case 6:  // CHECK_CLEAR_STATUS
            reply = std::vector<std::uint8_t>{kStatusSuccess, 0};
            break;
        default: break;
        }
        record_(line);
    }
    if (reply && reply->size() > length) {
        reply->resize(length);
    }
    return reply;
}

}  // namespace meterload::testing

#include "usb/usbtmc_header.h"

#include <algorithm>

namespace usbtmc {
namespace {

constexpr std::uint8_t kEndOfMessage = 0x01;
constexpr std::uint8_t kTermCharEnabled = 0x02;

std::vector<std::uint8_t> Header(MsgId id, std::uint8_t tag, std::uint32_t size, std::uint8_t attributes)
{
    std::vector<std::uint8_t> header(kHeaderSize, 0);
    header[0] = id;
    header[1] = tag;
    header[2] = static_cast<std::uint8_t>(~tag);
    for (std::size_t i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<std::uint8_t>((size >> (8 * i)) & 0xFFu);
    }
    header[8] = attributes;
    return header;
}

}  // namespace

std::uint8_t TagSequence::Next()
{
    last_ = static_cast<std::uint8_t>(last_ == 255 ? 1 : last_ + 1);
    return last_;
}

std::vector<std::uint8_t> MessageOut(std::uint8_t tag, const std::uint8_t* data, std::uint32_t count)
{
    // Sized once, header and data copied in: growing the header's vector
    // by the data trips GCC 12's bounds warning in optimised builds.
    const std::vector<std::uint8_t> header = Header(kDevDepMsgOut, tag, count, kEndOfMessage);
    std::vector<std::uint8_t> message(WholePackets(kHeaderSize + count, 4), 0);
    std::copy(header.begin(), header.end(), message.begin());
    if (count > 0) {
        std::copy(data, data + count, message.begin() + static_cast<std::ptrdiff_t>(kHeaderSize));
    }
    return message;
}

std::vector<std::uint8_t> RequestIn(std::uint8_t tag, std::uint32_t maxCount, std::optional<std::uint8_t> termChar)
{
    std::vector<std::uint8_t> request = Header(kRequestDevDepMsgIn, tag, maxCount, termChar ? kTermCharEnabled : 0);
    request[9] = termChar.value_or(0);
    return request;
}

std::optional<ReplyHeader> ParseReply(const std::uint8_t* bytes, std::size_t size)
{
    if (size < kHeaderSize || bytes[0] != kDevDepMsgIn || bytes[1] == 0 ||
        bytes[2] != static_cast<std::uint8_t>(~bytes[1])) {
        return std::nullopt;
    }
    ReplyHeader header;
    header.tag = bytes[1];
    for (std::size_t i = 0; i < 4; ++i) {
        header.transferSize |= static_cast<std::uint32_t>(bytes[4 + i]) << (8 * i);
    }
    header.endOfMessage = (bytes[8] & kEndOfMessage) != 0;
    return header;
}

bool IsEarlierTag(std::uint8_t tag, std::uint8_t current)
{
    // Tags run 1..255: the distance back from `current` skips 0.
    const int back = (static_cast<int>(current) - static_cast<int>(tag) + 255) % 255;
    return tag != 0 && back >= 1 && back <= 127;
}

Capabilities ParseCapabilities(const std::uint8_t* reply, std::size_t size)
{
    Capabilities capabilities;
    if (size < 16 || reply[0] != kStatusSuccess) {
        return capabilities;
    }
    capabilities.termChar = (reply[5] & 0x01) != 0;
    capabilities.usb488 = (reply[14] & 0x04) != 0;
    capabilities.renControl = (reply[14] & 0x02) != 0;
    return capabilities;
}

std::size_t WholePackets(std::size_t size, std::size_t packet)
{
    return (size + packet - 1) / packet * packet;
}

}  // namespace usbtmc

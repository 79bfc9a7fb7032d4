// The 12-byte header that starts every USBTMC bulk transfer: building the
// host's DEV_DEP_MSG_OUT and REQUEST_DEV_DEP_MSG_IN headers and checking the
// device's DEV_DEP_MSG_IN reply header, and the bTag sequence that ties a
// reply to its request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace usbtmc {

constexpr std::size_t kHeaderSize = 12;

enum MsgId : std::uint8_t {
    kDevDepMsgOut = 1,
    kRequestDevDepMsgIn = 2,  // from the host; the device answers with the same id
    kDevDepMsgIn = 2,
};

// Class requests on the control endpoint.
enum Request : std::uint8_t {
    kInitiateAbortBulkOut = 1,
    kCheckAbortBulkOutStatus = 2,
    kInitiateAbortBulkIn = 3,
    kCheckAbortBulkInStatus = 4,
    kInitiateClear = 5,
    kCheckClearStatus = 6,
    kGetCapabilities = 7,
    kRenControl = 160,  // USB488
};

// USBTMC_status values of the control replies.
enum ControlStatus : std::uint8_t {
    kStatusSuccess = 0x01,
    kStatusPending = 0x02,
    kStatusFailed = 0x80,
};

// bTag runs 1..255 and wraps past 0, which a header never carries.
class TagSequence {
public:
    std::uint8_t Next();

private:
    std::uint8_t last_ = 0;
};

// One DEV_DEP_MSG_OUT message: header, `data` and zeros up to a multiple of
// 4 bytes, with EOM set.
std::vector<std::uint8_t> MessageOut(std::uint8_t tag, const std::uint8_t* data, std::uint32_t count);

// A REQUEST_DEV_DEP_MSG_IN for at most `maxCount` bytes; with `termChar`
// the device may end its reply early after that byte.
std::vector<std::uint8_t> RequestIn(std::uint8_t tag, std::uint32_t maxCount,
                                    std::optional<std::uint8_t> termChar = std::nullopt);

struct ReplyHeader {
    std::uint8_t tag = 0;
    std::uint32_t transferSize = 0;  // data bytes that follow the header
    bool endOfMessage = false;
};

// The DEV_DEP_MSG_IN header at the start of `bytes`, when it is one (whatever
// request it answers); nothing otherwise.
std::optional<ReplyHeader> ParseReply(const std::uint8_t* bytes, std::size_t size);

// True when `tag` went out before `current`, within the last half of the
// sequence: the reply to an earlier request, left over from it.
bool IsEarlierTag(std::uint8_t tag, std::uint8_t current);

// What GET_CAPABILITIES reports that the transport acts on.
struct Capabilities {
    bool termChar = false;    // the device ends a reply at a term char it is given
    bool usb488 = false;      // a USB488 interface
    bool renControl = false;  // it takes REN_CONTROL, GO_TO_LOCAL and LOCAL_LOCKOUT
};

// The capabilities in a GET_CAPABILITIES reply of `size` bytes; none when
// the reply is not a successful one.
Capabilities ParseCapabilities(const std::uint8_t* reply, std::size_t size);

// Bytes `size` rounded up to whole `packet`s.
std::size_t WholePackets(std::size_t size, std::size_t packet);

}  // namespace usbtmc

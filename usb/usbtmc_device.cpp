#include "usb/usbtmc_device.h"

#include <libusb.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace usbtmc {
namespace {

// bmRequestType of the class requests: device to host, class, to the
// interface or to an endpoint.
constexpr std::uint8_t kToInterface = 0xA1;
constexpr std::uint8_t kToEndpoint = 0xA2;
// A busy instrument (writing its flash) keeps answering PENDING to an abort
// or a clear: it is asked every 50 ms, up to 100 times, and each request or
// drain may take seconds. These are the budgets real instruments are known
// to need, whatever the session's timeout.
constexpr int kStatusChecks = 100;
constexpr auto kStatusPause = std::chrono::milliseconds(50);
constexpr unsigned kControlTimeoutMs = 5000;
constexpr unsigned kDrainTimeoutMs = 500;
constexpr int kDrainReads = 100;
// A transfer that fails with an error other than "no device" on a device
// that is leaving: the node goes within a second.
constexpr int kPresenceChecks = 20;
constexpr unsigned kPresenceTimeoutMs = 100;
// Stray packets before a reply's header are skipped, but not for ever.
constexpr int kStrayTransfers = 64;
// What one bulk-in transfer takes at most, whatever a header announces.
constexpr std::size_t kLargestTransfer = 1024 * 1024;

Outcome OutcomeOf(int result)
{
    switch (result) {
    case LIBUSB_SUCCESS: return Outcome::Done;
    case LIBUSB_ERROR_TIMEOUT: return Outcome::TimedOut;
    case LIBUSB_ERROR_PIPE: return Outcome::Halted;
    case LIBUSB_ERROR_NO_DEVICE: return Outcome::Lost;
    default: return Outcome::Failed;
    }
}

std::size_t Aligned(std::size_t size)
{
    return (size + 3) / 4 * 4;
}

}  // namespace

std::unique_ptr<UsbtmcDevice> UsbtmcDevice::Open(const InterfaceLocation& location, int& error)
{
    // A libusb context of its own: a thread waiting on this meter handles
    // this meter's events only, and never waits for another meter's thread
    // to hand over libusb's event handling.
    libusb_context* context = nullptr;
    error = libusb_init(&context);
    if (error != LIBUSB_SUCCESS) {
        return nullptr;
    }
    error = LIBUSB_ERROR_NO_DEVICE;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == location.bus && libusb_get_device_address(list[i]) == location.address) {
            error = libusb_open(list[i], &handle);
            break;
        }
    }
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    if (handle == nullptr) {
        libusb_exit(context);
        return nullptr;
    }
    // The kernel's usbtmc driver lets go of the interface while we hold it
    // and takes it back when we release it.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    int configuration = 0;
    if (libusb_get_configuration(handle, &configuration) == LIBUSB_SUCCESS && configuration == 0) {
        libusb_set_configuration(handle, 1);  // unconfigured: the instrument's only configuration
    }
    error = libusb_claim_interface(handle, location.interfaceNumber);
    if (error != LIBUSB_SUCCESS) {
        libusb_close(handle);
        libusb_exit(context);
        return nullptr;
    }
    std::unique_ptr<UsbtmcDevice> device(new UsbtmcDevice(context, handle, location));
    device->Prepare();
    return device;
}

UsbtmcDevice::UsbtmcDevice(libusb_context* context, libusb_device_handle* handle, const InterfaceLocation& location)
    : context_(context), handle_(handle), location_(location)
{
}

UsbtmcDevice::~UsbtmcDevice()
{
    libusb_release_interface(handle_, location_.interfaceNumber);
    libusb_close(handle_);
    libusb_exit(context_);
}

void UsbtmcDevice::Prepare()
{
    std::uint8_t reply[0x18];
    Outcome outcome = Outcome::Done;
    ControlIn(kGetCapabilities, 0, location_.interfaceNumber, reply, sizeof reply, false, outcome);
    capabilities_ = ParseCapabilities(reply, outcome == Outcome::Done ? sizeof reply : 0);
    if (capabilities_.renControl) {
        ControlIn(kRenControl, 1, location_.interfaceNumber, reply, 1, false, outcome);
    }
    // A reply an interrupted earlier session left queued, or half a message
    // it sent, would otherwise meet this session's first exchange.
    if (Clear() != Outcome::Done) {
        DrainBulkIn();
    }
}

bool UsbtmcDevice::StillAttached()
{
    for (int i = 0; i < kPresenceChecks; ++i) {
        struct stat node {};
        if (::stat(location_.node.c_str(), &node) != 0 && errno == ENOENT) {
            return false;
        }
        std::uint8_t status[2];
        const int result = libusb_control_transfer(handle_, 0x80, LIBUSB_REQUEST_GET_STATUS, 0, 0, status,
                                                   sizeof status, kPresenceTimeoutMs);
        if (result >= 0 || result == LIBUSB_ERROR_PIPE) {
            return true;  // it answers, if only with a stall
        }
        if (result == LIBUSB_ERROR_NO_DEVICE) {
            return false;
        }
        std::this_thread::sleep_for(kStatusPause);
    }
    return false;  // a device that answers nothing for a second is gone for all purposes
}

Outcome UsbtmcDevice::FailureOf(int result)
{
    const Outcome outcome = OutcomeOf(result);
    // Host controllers report an unplug as EPROTO, EILSEQ or ETIME (an I/O
    // error to libusb) before the device's node goes.
    if (outcome == Outcome::Failed && !StillAttached()) {
        return Outcome::Lost;
    }
    return outcome;
}

Outcome UsbtmcDevice::Bulk(std::uint8_t endpoint, std::uint8_t* data, std::size_t size, int& transferred,
                           unsigned timeoutMs)
{
    transferred = 0;
    const int result =
        libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(size), &transferred, timeoutMs);
    const Outcome outcome = FailureOf(result);
    if (outcome == Outcome::Halted) {
        libusb_clear_halt(handle_, endpoint);
    }
    return outcome;
}

std::uint8_t UsbtmcDevice::ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                     std::uint8_t* reply, std::uint16_t size, bool toEndpoint, Outcome& outcome)
{
    std::memset(reply, 0, size);
    const int result = libusb_control_transfer(handle_, toEndpoint ? kToEndpoint : kToInterface, request, value,
                                               index, reply, size, kControlTimeoutMs);
    outcome = result >= 1 ? Outcome::Done : result == 0 ? Outcome::Failed : FailureOf(result);
    return result >= 1 ? reply[0] : 0;
}

Outcome UsbtmcDevice::DrainBulkIn()
{
    std::vector<std::uint8_t> packet(location_.packetSize * 4u);
    for (int i = 0; i < kDrainReads; ++i) {
        int transferred = 0;
        const Outcome outcome = Bulk(location_.bulkIn, packet.data(), packet.size(), transferred, kDrainTimeoutMs);
        if (outcome == Outcome::Lost) {
            return outcome;
        }
        if (outcome != Outcome::Done || static_cast<std::size_t>(transferred) < packet.size()) {
            return Outcome::Done;
        }
    }
    return Outcome::Failed;  // it never ended with a short packet
}

Outcome UsbtmcDevice::AbortBulkIn(std::uint8_t tag)
{
    std::uint8_t reply[8];
    Outcome outcome = Outcome::Done;
    const std::uint8_t status = ControlIn(kInitiateAbortBulkIn, tag, location_.bulkIn, reply, 2, true, outcome);
    if (outcome != Outcome::Done) {
        return outcome;
    }
    if (status != kStatusSuccess) {
        return Outcome::Done;  // nothing was in progress: the device holds nothing of it
    }
    if ((outcome = DrainBulkIn()) == Outcome::Lost) {
        return outcome;
    }
    for (int i = 0; i < kStatusChecks; ++i) {
        const std::uint8_t check = ControlIn(kCheckAbortBulkInStatus, 0, location_.bulkIn, reply, 8, true, outcome);
        if (outcome != Outcome::Done) {
            return outcome;
        }
        if (check == kStatusSuccess) {
            return Outcome::Done;
        }
        if (check != kStatusPending) {
            return Outcome::Failed;
        }
        if ((reply[1] & 0x01) != 0) {
            if ((outcome = DrainBulkIn()) == Outcome::Lost) {
                return outcome;  // it still holds data of the aborted transfer
            }
        } else {
            std::this_thread::sleep_for(kStatusPause);
        }
    }
    return Outcome::Failed;
}

Outcome UsbtmcDevice::AbortBulkOut(std::uint8_t tag)
{
    std::uint8_t reply[8];
    Outcome outcome = Outcome::Done;
    const std::uint8_t status = ControlIn(kInitiateAbortBulkOut, tag, location_.bulkOut, reply, 2, true, outcome);
    if (outcome != Outcome::Done || status != kStatusSuccess) {
        return outcome;
    }
    for (int i = 0; i < kStatusChecks; ++i) {
        const std::uint8_t check = ControlIn(kCheckAbortBulkOutStatus, 0, location_.bulkOut, reply, 8, true, outcome);
        if (outcome != Outcome::Done) {
            return outcome;
        }
        if (check == kStatusSuccess) {
            // Only a finished abort leaves the endpoint ready to be cleared.
            return FailureOf(libusb_clear_halt(handle_, location_.bulkOut));
        }
        if (check != kStatusPending) {
            return Outcome::Failed;
        }
        std::this_thread::sleep_for(kStatusPause);
    }
    return Outcome::Failed;
}

Transfer UsbtmcDevice::Write(const std::uint8_t* data, std::uint32_t count, unsigned timeoutMs)
{
    const std::uint8_t tag = tags_.Next();
    std::vector<std::uint8_t> message = MessageOut(tag, data, count);
    int transferred = 0;
    Transfer result;
    result.outcome = Bulk(location_.bulkOut, message.data(), message.size(), transferred, timeoutMs);
    const auto delivered = static_cast<std::uint32_t>(std::max(transferred - static_cast<int>(kHeaderSize), 0));
    result.count = std::min(delivered, count);
    if (result.outcome == Outcome::TimedOut && AbortBulkOut(tag) == Outcome::Lost) {
        result.outcome = Outcome::Lost;
    }
    return result;
}

Outcome UsbtmcDevice::ReadRest(std::vector<std::uint8_t>& transfer, std::size_t total, unsigned timeoutMs)
{
    // Sized to end exactly where the announced bytes (and their alignment
    // padding) end: a device that sends neither a short packet nor a
    // zero-length packet after whole packets still completes the transfer.
    const std::size_t packet = location_.packetSize;
    std::vector<std::uint8_t> in;
    int strays = 0;
    while (transfer.size() < total) {
        in.assign(std::min(WholePackets(Aligned(total) - transfer.size(), packet), kLargestTransfer), 0);
        int transferred = 0;
        const Outcome outcome = Bulk(location_.bulkIn, in.data(), in.size(), transferred, timeoutMs);
        transfer.insert(transfer.end(), in.begin(), in.begin() + transferred);
        if (outcome != Outcome::Done) {
            return transfer.size() >= total ? Outcome::Done : outcome;
        }
        if (transferred == 0 && ++strays > kStrayTransfers) {
            return Outcome::BadReply;  // it keeps ending the transfer short of what it announced
        }
    }
    return Outcome::Done;
}

UsbtmcDevice::Reply UsbtmcDevice::ReadReply(std::uint32_t count, unsigned timeoutMs,
                                            std::optional<std::uint8_t> termChar)
{
    Reply reply;
    const std::uint8_t tag = tags_.Next();
    std::vector<std::uint8_t> request = RequestIn(tag, count, capabilities_.termChar ? termChar : std::nullopt);
    int transferred = 0;
    reply.outcome = Bulk(location_.bulkOut, request.data(), request.size(), transferred, timeoutMs);
    if (reply.outcome != Outcome::Done) {
        if (reply.outcome == Outcome::TimedOut && AbortBulkOut(tag) == Outcome::Lost) {
            reply.outcome = Outcome::Lost;
        }
        return reply;
    }
    // One packet first: it holds the header, and it completes whether or
    // not the device ends the reply with a short packet.
    std::vector<std::uint8_t> transfer(location_.packetSize);
    std::optional<ReplyHeader> header;
    for (int strays = 0; !header; ++strays) {
        transfer.assign(location_.packetSize, 0);
        reply.outcome = Bulk(location_.bulkIn, transfer.data(), transfer.size(), transferred, timeoutMs);
        transfer.resize(static_cast<std::size_t>(transferred));
        if (reply.outcome != Outcome::Done && transferred == 0) {
            break;
        }
        header = ParseReply(transfer.data(), transfer.size());
        if (transfer.size() < kHeaderSize && reply.outcome == Outcome::Done && strays < kStrayTransfers) {
            continue;  // a zero-length packet or padding left by an earlier reply
        }
        if (!header) {
            // Not a reply header: whatever is left of this transfer goes.
            if (AbortBulkIn(tag) == Outcome::Lost) {
                reply.outcome = Outcome::Lost;
                return reply;
            }
            reply.outcome = Outcome::BadReply;
            return reply;
        }
        if (header->tag != tag) {
            const bool stale = IsEarlierTag(header->tag, tag);
            if (!stale) {
                if (AbortBulkIn(tag) == Outcome::Lost) {
                    reply.outcome = Outcome::Lost;
                    return reply;
                }
                reply.outcome = Outcome::BadReply;
                return reply;
            }
            // The answer to an earlier request: read to its end and skip it.
            if (reply.outcome == Outcome::Done) {
                reply.outcome = ReadRest(transfer, kHeaderSize + header->transferSize, timeoutMs);
            }
            header.reset();
            if (reply.outcome != Outcome::Done) {
                break;
            }
        }
    }
    if (!header) {
        if (reply.outcome == Outcome::TimedOut && AbortBulkIn(tag) == Outcome::Lost) {
            reply.outcome = Outcome::Lost;
        }
        return reply;
    }
    const std::size_t total = kHeaderSize + header->transferSize;
    if (transfer.size() >= total) {
        reply.outcome = Outcome::Done;  // everything announced is here, whatever ended the transfer
    } else if (reply.outcome == Outcome::Done) {
        reply.outcome = ReadRest(transfer, total, timeoutMs);
    }
    const std::size_t arrived = std::min(transfer.size(), total) - kHeaderSize;
    reply.data.assign(transfer.begin() + static_cast<std::ptrdiff_t>(kHeaderSize),
                      transfer.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + arrived));
    // The end of the message counts only once every announced byte is here.
    reply.endOfMessage = header->endOfMessage && arrived == header->transferSize;
    if (reply.outcome == Outcome::TimedOut && AbortBulkIn(tag) == Outcome::Lost) {
        reply.outcome = Outcome::Lost;
    }
    return reply;
}

std::uint32_t UsbtmcDevice::TakeHeld(std::uint8_t* buffer, std::uint32_t count)
{
    const auto taken = static_cast<std::uint32_t>(std::min<std::size_t>(held_.size(), count));
    std::copy(held_.begin(), held_.begin() + taken, buffer);
    held_.erase(held_.begin(), held_.begin() + taken);
    return taken;
}

Transfer UsbtmcDevice::Read(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs,
                            std::optional<std::uint8_t> termChar)
{
    Transfer total;
    if (count == 0) {
        return total;
    }
    if (!held_.empty()) {
        total.count = TakeHeld(buffer, count);
        if (!held_.empty()) {
            total.outcome = Outcome::CountFull;
            return total;
        }
        if (heldEnds_) {
            return total;
        }
    }
    while (total.count < count) {
        const std::uint32_t wanted = count - total.count;
        Reply reply = ReadReply(wanted, timeoutMs, termChar);
        const auto taken = static_cast<std::uint32_t>(std::min<std::size_t>(reply.data.size(), wanted));
        std::copy(reply.data.begin(), reply.data.begin() + taken, buffer + total.count);
        total.count += taken;
        if (reply.data.size() > taken) {
            // A device that sent more than was asked: the rest waits for the next read.
            held_.assign(reply.data.begin() + taken, reply.data.end());
            heldEnds_ = reply.endOfMessage;
        }
        if (reply.outcome != Outcome::Done) {
            total.outcome = reply.outcome;
            return total;
        }
        if (!held_.empty()) {
            break;
        }
        if (reply.endOfMessage) {
            return total;
        }
        if (reply.data.empty()) {
            // An empty reply without its end would be asked for again for ever.
            total.outcome = Outcome::BadReply;
            return total;
        }
    }
    total.outcome = Outcome::CountFull;
    return total;
}

Outcome UsbtmcDevice::Clear()
{
    held_.clear();
    heldEnds_ = false;
    std::uint8_t reply[2];
    Outcome outcome = Outcome::Done;
    const std::uint8_t status = ControlIn(kInitiateClear, 0, location_.interfaceNumber, reply, 1, false, outcome);
    if (outcome != Outcome::Done) {
        return outcome == Outcome::Lost ? outcome : Outcome::Refused;
    }
    if (status != kStatusSuccess) {
        return Outcome::Refused;
    }
    bool finished = false;
    for (int i = 0; i < kStatusChecks && !finished; ++i) {
        const std::uint8_t check = ControlIn(kCheckClearStatus, 0, location_.interfaceNumber, reply, 2, false, outcome);
        if (outcome == Outcome::Lost) {
            return outcome;
        }
        if (check == kStatusSuccess) {
            finished = true;
        } else if (check != kStatusPending) {
            return Outcome::Refused;
        } else if ((reply[1] & 0x01) != 0) {
            if (DrainBulkIn() == Outcome::Lost) {
                return Outcome::Lost;
            }
        } else {
            std::this_thread::sleep_for(kStatusPause);
        }
    }
    if (!finished) {
        return Outcome::Refused;
    }
    const Outcome out = FailureOf(libusb_clear_halt(handle_, location_.bulkOut));
    const Outcome in = FailureOf(libusb_clear_halt(handle_, location_.bulkIn));
    return out == Outcome::Lost || in == Outcome::Lost ? Outcome::Lost : out != Outcome::Done ? out : in;
}

}  // namespace usbtmc

// Opening a meter, and its messages: writes, and replies read as far as
// their headers announce.
#include "usb/usbtmc_device.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>

namespace usbtmc {
namespace {

// Stray packets before a reply's header are skipped, but not for ever.
constexpr int kStrayTransfers = 64;
// What one bulk-in transfer takes at most, whatever a header announces.
constexpr std::size_t kLargestTransfer = 1024 * 1024;

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
Outcome UsbtmcDevice::Bulk(std::uint8_t endpoint, std::uint8_t* data, std::size_t size, int& transferred,
                           unsigned timeoutMs)
{
    transferred = 0;
    const int result = libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(size), &transferred, timeoutMs);
    const Outcome outcome = FailureOf(result);
    if (outcome == Outcome::Halted) {
        libusb_clear_halt(handle_, endpoint);
    }
    return outcome;
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
}  // namespace usbtmc

#include "usb/usbtmc_device.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace usbtmc {
namespace {

// bmRequestType of the class requests: device to host, class, to the
// interface or to an endpoint.
constexpr std::uint8_t kToInterface = 0xA1;
constexpr std::uint8_t kToEndpoint = 0xA2;
// How often a pending abort or clear is asked about before giving up.
constexpr int kStatusChecks = 50;
constexpr auto kStatusPause = std::chrono::milliseconds(10);
// Recovery does not wait the session's timeout, which may be long or
// infinite: what is left of an aborted transfer is already in the device.
constexpr unsigned kControlTimeoutMs = 1000;
constexpr unsigned kDrainTimeoutMs = 200;

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

}  // namespace

std::unique_ptr<UsbtmcDevice> UsbtmcDevice::Open(libusb_context* context, const InterfaceLocation& location,
                                                 int& error)
{
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
    libusb_free_device_list(list, 1);
    if (handle == nullptr) {
        return nullptr;
    }
    // The kernel's usbtmc driver lets go of the interface while we hold it
    // and takes it back when we release it.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    error = libusb_claim_interface(handle, location.interfaceNumber);
    if (error != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return nullptr;
    }
    return std::unique_ptr<UsbtmcDevice>(new UsbtmcDevice(handle, location));
}

UsbtmcDevice::UsbtmcDevice(libusb_device_handle* handle, const InterfaceLocation& location)
    : handle_(handle), location_(location)
{
}

UsbtmcDevice::~UsbtmcDevice()
{
    libusb_release_interface(handle_, location_.interfaceNumber);
    libusb_close(handle_);
}

Outcome UsbtmcDevice::Bulk(std::uint8_t endpoint, std::uint8_t* data, std::size_t size, int& transferred,
                           unsigned timeoutMs)
{
    transferred = 0;
    const int result =
        libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(size), &transferred, timeoutMs);
    const Outcome outcome = OutcomeOf(result);
    if (outcome == Outcome::Halted) {
        libusb_clear_halt(handle_, endpoint);
    }
    return outcome;
}

std::uint8_t UsbtmcDevice::ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                     std::uint8_t* reply, std::uint16_t size, bool toEndpoint)
{
    std::memset(reply, 0, size);
    const int result = libusb_control_transfer(handle_, toEndpoint ? kToEndpoint : kToInterface, request, value,
                                               index, reply, size, kControlTimeoutMs);
    return result >= 1 ? reply[0] : 0;
}

void UsbtmcDevice::DrainBulkIn()
{
    std::vector<std::uint8_t> packet(location_.packetSize * 4u);
    for (int i = 0; i < kStatusChecks; ++i) {
        int transferred = 0;
        if (Bulk(location_.bulkIn, packet.data(), packet.size(), transferred, kDrainTimeoutMs) != Outcome::Done ||
            static_cast<std::size_t>(transferred) < packet.size()) {
            return;
        }
    }
}

void UsbtmcDevice::AbortBulkIn(std::uint8_t tag)
{
    std::uint8_t reply[8];
    if (ControlIn(kInitiateAbortBulkIn, tag, location_.bulkIn, reply, 2, true) != kStatusSuccess) {
        return;  // nothing was in progress: the device holds nothing of it
    }
    DrainBulkIn();
    for (int i = 0; i < kStatusChecks; ++i) {
        if (ControlIn(kCheckAbortBulkInStatus, 0, location_.bulkIn, reply, 8, true) != kStatusPending) {
            return;
        }
        if ((reply[1] & 0x01) != 0) {
            DrainBulkIn();  // it still holds data of the aborted transfer
        } else {
            std::this_thread::sleep_for(kStatusPause);
        }
    }
}

void UsbtmcDevice::AbortBulkOut(std::uint8_t tag)
{
    std::uint8_t reply[8];
    if (ControlIn(kInitiateAbortBulkOut, tag, location_.bulkOut, reply, 2, true) == kStatusSuccess) {
        for (int i = 0; i < kStatusChecks; ++i) {
            if (ControlIn(kCheckAbortBulkOutStatus, 0, location_.bulkOut, reply, 8, true) !=
                kStatusPending) {
                break;
            }
            std::this_thread::sleep_for(kStatusPause);
        }
    }
    libusb_clear_halt(handle_, location_.bulkOut);
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
    if (result.outcome == Outcome::TimedOut) {
        AbortBulkOut(tag);
    }
    return result;
}

Transfer UsbtmcDevice::ReadOnce(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs, bool& endOfMessage)
{
    const std::uint8_t tag = tags_.Next();
    std::vector<std::uint8_t> request = RequestIn(tag, count);
    int transferred = 0;
    Transfer result;
    result.outcome = Bulk(location_.bulkOut, request.data(), request.size(), transferred, timeoutMs);
    if (result.outcome != Outcome::Done) {
        if (result.outcome == Outcome::TimedOut) {
            AbortBulkOut(tag);
        }
        return result;
    }
    // Whole packets plus a spare one: a device that pads a reply which
    // fills its packets, instead of ending it with a zero-length packet,
    // has its padding taken here rather than at the start of the next read.
    const std::size_t packet = location_.packetSize;
    std::vector<std::uint8_t> in(WholePackets(kHeaderSize + count, packet) + packet);
    result.outcome = Bulk(location_.bulkIn, in.data(), in.size(), transferred, timeoutMs);
    if (result.outcome == Outcome::TimedOut) {
        AbortBulkIn(tag);
    }
    if (result.outcome != Outcome::Done) {
        return result;
    }
    const std::optional<ReplyHeader> header = ParseReply(in.data(), static_cast<std::size_t>(transferred), tag);
    if (!header) {
        // Not the answer to this request: whatever is left of it goes.
        AbortBulkIn(tag);
        result.outcome = Outcome::BadReply;
        return result;
    }
    const std::uint32_t expected = std::min(header->transferSize, count);
    std::uint32_t got = std::min(static_cast<std::uint32_t>(transferred) - static_cast<std::uint32_t>(kHeaderSize),
                                 expected);
    std::memcpy(buffer, in.data() + kHeaderSize, got);
    // The rest of a reply that spans several bulk-in transfers.
    while (got < expected) {
        in.assign(WholePackets(expected - got + 3, packet) + packet, 0);
        result.outcome = Bulk(location_.bulkIn, in.data(), in.size(), transferred, timeoutMs);
        if (result.outcome == Outcome::TimedOut) {
            AbortBulkIn(tag);
        }
        if (result.outcome != Outcome::Done) {
            result.count = got;
            return result;
        }
        if (transferred == 0) {
            break;  // the device ended the transfer short of what it announced
        }
        const std::uint32_t taken = std::min(static_cast<std::uint32_t>(transferred), expected - got);
        std::memcpy(buffer + got, in.data(), taken);
        got += taken;
    }
    result.count = got;
    endOfMessage = header->endOfMessage && got == expected;
    if (got < expected) {
        result.outcome = Outcome::BadReply;
    }
    return result;
}

Transfer UsbtmcDevice::Read(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs)
{
    Transfer total;
    if (count == 0) {
        return total;
    }
    while (total.count < count) {
        bool endOfMessage = false;
        const Transfer part = ReadOnce(buffer + total.count, count - total.count, timeoutMs, endOfMessage);
        total.count += part.count;
        if (part.outcome != Outcome::Done || endOfMessage) {
            total.outcome = part.outcome;
            return total;
        }
        if (part.count == 0) {
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
    std::uint8_t reply[2];
    if (ControlIn(kInitiateClear, 0, location_.interfaceNumber, reply, 1, false) == kStatusSuccess) {
        for (int i = 0; i < kStatusChecks; ++i) {
            if (ControlIn(kCheckClearStatus, 0, location_.interfaceNumber, reply, 2, false) !=
                kStatusPending) {
                break;
            }
            if ((reply[1] & 0x01) != 0) {
                DrainBulkIn();
            } else {
                std::this_thread::sleep_for(kStatusPause);
            }
        }
    }
    return OutcomeOf(libusb_clear_halt(handle_, location_.bulkOut));
}

}  // namespace usbtmc

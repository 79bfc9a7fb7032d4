// What brings a meter back to a known state: a failed transfer told apart
// from a departed device, the aborts after a timeout and the device clear,
// each with the budgets a busy instrument needs, and the class requests they
// are made of.
#include "usb/usbtmc_device.h"

#include <libusb.h>

#include <sys/stat.h>

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
std::uint8_t UsbtmcDevice::ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                     std::uint8_t* reply, std::uint16_t size, bool toEndpoint, Outcome& outcome)
{
    std::memset(reply, 0, size);
    const int result = libusb_control_transfer(handle_, toEndpoint ? kToEndpoint : kToInterface, request, value, index,
                                               reply, size, kControlTimeoutMs);
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

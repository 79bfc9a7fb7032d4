// One ZQ6140 reached through libusb: its USBTMC interface claimed (the
// kernel's usbtmc driver detached for as long as it is held), messages
// written and read with USBTMC framing, and the recovery after a timeout or
// a halted endpoint that leaves the next exchange working.
#pragma once

#include "usb/usbtmc_header.h"

#include <cstdint>
#include <memory>
#include <string>

struct libusb_context;
struct libusb_device_handle;

namespace usbtmc {

// Where a USBTMC interface of an instrument is, as the search found it.
struct InterfaceLocation {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint8_t interfaceNumber = 0;
    std::uint8_t bulkOut = 0;
    std::uint8_t bulkIn = 0;
    std::uint16_t packetSize = 64;  // of the bulk-in endpoint
    std::string serial;
    std::string node;  // /dev/bus/usb/BBB/DDD
};

enum class Outcome {
    Done,       // the whole write, or a reply up to its end of message
    CountFull,  // the read's count was reached before the end of message
    TimedOut,   // the session's timeout passed; the transfer was aborted
    Halted,     // the endpoint stalled; the halt was cleared
    BadReply,   // a reply header that does not answer the request
    Lost,       // the device left the bus
    Failed,     // any other error of the bus
};

struct Transfer {
    Outcome outcome = Outcome::Done;
    std::uint32_t count = 0;  // data bytes written or read
    std::uint64_t busUs = 0;  // time spent on the bus, set by the library's calls
};

class UsbtmcDevice {
public:
    // Null with `error` set (a libusb error code) when the device cannot be
    // opened or its interface claimed.
    static std::unique_ptr<UsbtmcDevice> Open(libusb_context* context, const InterfaceLocation& location,
                                              int& error);
    ~UsbtmcDevice();
    UsbtmcDevice(const UsbtmcDevice&) = delete;
    UsbtmcDevice& operator=(const UsbtmcDevice&) = delete;

    // One USBTMC message of `count` bytes. `timeoutMs` 0 waits for ever.
    Transfer Write(const std::uint8_t* data, std::uint32_t count, unsigned timeoutMs);
    // Requests and reads a reply of at most `count` bytes, over as many
    // requests and bulk-in transfers as the device takes to reach its end
    // of message.
    Transfer Read(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs);
    // A device clear: the instrument drops its input and output.
    Outcome Clear();

    const InterfaceLocation& Location() const { return location_; }

private:
    UsbtmcDevice(libusb_device_handle* handle, const InterfaceLocation& location);
    // A bulk transfer; the outcome of its libusb result, with a halted
    // endpoint already cleared.
    Outcome Bulk(std::uint8_t endpoint, std::uint8_t* data, std::size_t size, int& transferred, unsigned timeoutMs);
    // A class request answered on the control endpoint; the reply's first
    // byte (USBTMC_status), 0 when it failed.
    std::uint8_t ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t* reply,
                           std::uint16_t size, bool toEndpoint);
    // Reads bulk-in until a short packet ends what the device holds.
    void DrainBulkIn();
    // After a timeout: the device drops the transfer with `tag`.
    void AbortBulkIn(std::uint8_t tag);
    void AbortBulkOut(std::uint8_t tag);
    // One request and its reply, into `buffer`.
    Transfer ReadOnce(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs, bool& endOfMessage);

    libusb_device_handle* handle_;
    InterfaceLocation location_;
    TagSequence tags_;
};

}  // namespace usbtmc

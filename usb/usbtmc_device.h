// One ZQ6140 reached through libusb: its USBTMC interface claimed (the
// kernel's usbtmc driver detached for as long as it is held), messages
// written and read with USBTMC framing, and the recovery after a timeout or
// a halted endpoint that leaves the next exchange working.
#pragma once

#include "usb/usbtmc_header.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    Refused,    // the device refused a clear, or never finished it
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
    // opened or its interface claimed. An opened device has been asked for
    // its capabilities, has REN asserted where it declares REN_CONTROL, and
    // has been cleared of whatever an earlier session left in it.
    static std::unique_ptr<UsbtmcDevice> Open(const InterfaceLocation& location, int& error);
    ~UsbtmcDevice();
    UsbtmcDevice(const UsbtmcDevice&) = delete;
    UsbtmcDevice& operator=(const UsbtmcDevice&) = delete;

    // One USBTMC message of `count` bytes. `timeoutMs` 0 waits for ever.
    Transfer Write(const std::uint8_t* data, std::uint32_t count, unsigned timeoutMs);
    // Reads at most `count` bytes of the device's reply, over as many
    // requests and bulk-in transfers as it takes to reach the end of the
    // message. What a reply holds beyond `count` stays for the next read.
    // `termChar` is passed on only to a device that declares it takes one.
    Transfer Read(std::uint8_t* buffer, std::uint32_t count, unsigned timeoutMs,
                  std::optional<std::uint8_t> termChar = std::nullopt);
    // A device clear: the instrument drops its input and output. Done only
    // when the device reports the clear finished.
    Outcome Clear();

    const InterfaceLocation& Location() const { return location_; }
    const Capabilities& DeviceCapabilities() const { return capabilities_; }

private:
    struct Reply {
        Outcome outcome = Outcome::Done;
        std::vector<std::uint8_t> data;
        bool endOfMessage = false;  // set, and every announced byte arrived
    };

    UsbtmcDevice(libusb_context* context, libusb_device_handle* handle, const InterfaceLocation& location);
    // GET_CAPABILITIES, REN_CONTROL and a clear: what the session starts from.
    void Prepare();
    // A bulk transfer; the outcome of its libusb result, with a halted
    // endpoint already cleared and a failure on a departed device Lost.
    Outcome Bulk(std::uint8_t endpoint, std::uint8_t* data, std::size_t size, int& transferred, unsigned timeoutMs);
    // A class request answered on the control endpoint; the reply's first
    // byte (USBTMC_status), 0 when it failed, with `outcome` saying why.
    std::uint8_t ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t* reply,
                           std::uint16_t size, bool toEndpoint, Outcome& outcome);
    // The outcome of a failed libusb call: Lost when the device has left
    // the bus, whatever error the host controller gave.
    Outcome FailureOf(int result);
    bool StillAttached();
    // Reads bulk-in until a short packet ends what the device holds.
    Outcome DrainBulkIn();
    // After a timeout: the device drops the transfer with `tag`, given the
    // time a busy device takes to say so.
    Outcome AbortBulkIn(std::uint8_t tag);
    Outcome AbortBulkOut(std::uint8_t tag);
    // One request and the reply that answers it, stale replies and stray
    // packets before it skipped.
    Reply ReadReply(std::uint32_t count, unsigned timeoutMs, std::optional<std::uint8_t> termChar);
    // The rest of a reply whose first `have` transfer bytes arrived.
    Outcome ReadRest(std::vector<std::uint8_t>& transfer, std::size_t total, unsigned timeoutMs);
    // Moves up to `count` held bytes into `buffer`.
    std::uint32_t TakeHeld(std::uint8_t* buffer, std::uint32_t count);

    libusb_context* context_;  // the device's own
    libusb_device_handle* handle_;
    InterfaceLocation location_;
    TagSequence tags_;
    Capabilities capabilities_;
    std::vector<std::uint8_t> held_;  // of a reply, beyond what its read asked for
    bool heldEnds_ = false;           // the held bytes run to the end of the message
};

}  // namespace usbtmc

// ZQ6140s on an emulated USB bus: umockdev gives unmodified libusb their
// sysfs entries, udev properties and /dev/bus/usb nodes, and this bus
// answers the usbfs calls on those nodes (URBs submitted and reaped, halts
// cleared, interfaces claimed) with each meter's USBTMC function.
#pragma once

#include "sim/instrument_model.h"
#include "sim/sim_config.h"
#include "tests/support/transcript.h"
#include "tests/usb/usbtmc_function.h"
#include "visa_surface/transcript.h"

#include <pthread.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace meterload::testing {

class EmulatedBus {
public:
    // `instruments` configures the simulated instruments behind the bus with
    // the simulated library's keys (sim/README.md), `serials` first; `faults`
    // gives the USB faults of some of them by serial.
    explicit EmulatedBus(const std::string& instruments, const std::map<std::string, UsbFaults>& faults = {});
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // False, with the reason, where umockdev cannot start on this machine.
    bool Started() const { return started_; }
    const std::string& WhyNotStarted() const { return whyNot_; }

    // The testbed's root, for UMOCKDEV_DIR in a child process's environment.
    std::string RootDirectory() const { return root_; }
    std::string NodeOf(const std::string& serial) const;
    // The node's file in the testbed, which a child process opens.
    std::string NodeFileOf(const std::string& serial) const;
    void Unplug(const std::string& serial);
    // Every meter switched off and on (see sim/README.md).
    void PowerCycle();
    // One meter's power switch, as the operator turns it. Off, the meter
    // leaves the bus as the kernel sees it go: its transfers end, its sysfs
    // entry and node go and a remove uevent is sent. On, it enumerates again
    // under a new address with the same serial, and runs what it accepted
    // (received_versions and received_mode, as the simulated library's
    // power switches).
    void SwitchOff(const std::string& serial);
    void SwitchOn(const std::string& serial);

    // What crossed the bus: one event per line, as the simulated library's
    // transcript writes them, stamped with microseconds since the bus started.
    std::string TranscriptText() const;
    std::vector<WireEvent> Transcript(const std::string& serial) const;
    std::vector<std::vector<std::uint8_t>> Writes(const std::string& serial) const;
    std::vector<std::size_t> OutPackets(const std::string& serial) const;
    const zqsim::InstrumentState& Instrument(const std::string& serial) const;

    // The emulator's own work: the usbfs calls its one thread answered, and
    // the time it spent answering them.
    struct Load {
        std::uint64_t calls = 0;
        std::chrono::nanoseconds busy{0};       // inside the bus's answers
        std::chrono::nanoseconds threadCpu{0};  // the emulator's thread's processor time, dispatch included
    };
    Load HandlerLoad() const;

private:
    struct Urb {
        UMockdevIoctlClient* client = nullptr;
        UMockdevIoctlData* data = nullptr;    // the usbdevfs_urb
        UMockdevIoctlData* buffer = nullptr;  // its buffer
    };
    struct Meter {
        std::string node;
        unsigned address = 0;
        std::string sysPath;  // in the testbed
        UsbFaults faults;     // as configured, armed again at each power-on
        std::unique_ptr<UsbtmcFunction> function;
        std::vector<Urb> pendingIn;
        std::vector<Urb> completed;
    };

    static int HandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool Handle(UMockdevIoctlClient* client);
    // The usbdevfs_urb an ioctl's argument points at, and its buffer.
    static Urb Resolve(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    void Submit(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    void Reap(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    void Discard(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    // Gives the pending bulk-in URBs what the device has to send.
    void FillIn(Meter& meter);
    // Everything in flight ends: the device is gone.
    void EndAll(Meter& meter);
    void Record(const visa_surface::EventLine& line);
    Meter* MeterAt(const std::string& node);
    const Meter& MeterOf(const std::string& serial) const;
    // Meter `index` as it powers up at `address`: a USB function of its own
    // over its instrument, with its configured faults.
    void PowerUp(std::size_t index, unsigned address);
    // Puts meter `index` on the testbed's bus (its add uevent included);
    // false, with the reason in whyNot_, when umockdev refuses.
    bool Attach(std::size_t index);

    zqsim::SimConfig config_;
    std::unique_ptr<zqsim::InstrumentModel> model_;
    std::vector<Meter> meters_;
    // Meters as they were before a power cycle: a client that still holds
    // their old node reaps what ended and is told the device is gone.
    std::vector<Meter> retired_;
    unsigned nextAddress_ = 2;  // 1 is the root hub's; the kernel counts on at each enumeration
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    std::string root_;
    bool started_ = false;
    std::string whyNot_;
    mutable std::mutex mutex_;  // the ioctls come on umockdev's worker thread
    Load load_;
    std::optional<pthread_t> handlerThread_;
    visa_surface::Transcript transcript_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace meterload::testing

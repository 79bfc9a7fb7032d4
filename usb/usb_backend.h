// The instruments behind the USB library's VISA functions: ZQ6140s found on
// the USB buses through libusb and talked to with USBTMC framing.
#pragma once

#include "usb/usb_search.h"
#include "usb/usbtmc_device.h"
#include "visa_surface/visa_backend.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace usbtmc {

using namespace visa_surface;  // NOLINT: this is one backend of the VISA surface

class UsbBackend : public VisaBackend {
public:
    UsbBackend();
    ~UsbBackend() override;
    UsbBackend(const UsbBackend&) = delete;
    UsbBackend& operator=(const UsbBackend&) = delete;

    ViStatus ResourceManagerStatus() override;
    std::vector<std::string> ResourceNames() override;
    ViStatus OpenInstrument(const ResourceName& name, Session& session) override;
    void CloseInstrument(const Session& session) override;
    std::string SerialOf(const Session& session) const override;
    const char* MakerName() const override;

    ViStatus Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) override;
    ViStatus Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) override;
    ViStatus Clear(ViSession vi) override;

    void Record(const EventLine& line) override;

private:
    struct OpenDevice {
        std::mutex io;  // one transfer at a time on a device
        std::unique_ptr<UsbtmcDevice> device;
    };

    SearchResult Search();
    // Says once per node and process why a ZQ6140 cannot be reached.
    void ReportDenied(const std::vector<std::string>& nodes);
    // The device of an instrument session, or the status that refuses it.
    std::shared_ptr<OpenDevice> DeviceOf(ViSession vi, ViStatus& status);
    // Runs `io` on the session's device without the call lock, then gives
    // the VISA status of its outcome in `status`.
    Transfer Run(ViSession vi, const std::function<Transfer(UsbtmcDevice&, unsigned timeoutMs)>& io, ViStatus& status);
    // The VISA status of a transfer's outcome; a lost device loses every
    // session opened to it.
    ViStatus StatusOf(Outcome outcome, std::size_t instrument);
    // The term char a session's reads end at, when it enables one.
    std::optional<std::uint8_t> TermCharOf(ViSession vi);

    libusb_context* context_ = nullptr;
    std::map<std::size_t, std::shared_ptr<OpenDevice>> devices_;
    std::size_t nextDevice_ = 1;
    std::set<std::string> reportedNodes_;
    bool trace_ = false;  // METERLOAD_USBTMC_DEBUG: every event on standard error too
    Transcript transcript_;
    std::chrono::steady_clock::time_point loaded_ = std::chrono::steady_clock::now();
};

UsbBackend& TheUsbBackend();

// Lets go of the call lock while a transfer waits on the bus, so that other
// instruments' sessions carry on meanwhile; takes it back however it ends.
class UnlockedTransfer {
public:
    UnlockedTransfer();
    ~UnlockedTransfer();
    UnlockedTransfer(const UnlockedTransfer&) = delete;
    UnlockedTransfer& operator=(const UnlockedTransfer&) = delete;
};

}  // namespace usbtmc

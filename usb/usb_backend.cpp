#include "usb/usb_backend.h"

#include <libusb.h>

#include <cstdio>
#include <cstdlib>

namespace usbtmc {
namespace {

// libusb waits for ever on 0; VISA's immediate timeout still gives the
// device its millisecond.
unsigned LibusbTimeout(ViUInt32 timeoutMs)
{
    if (timeoutMs == VI_TMO_INFINITE) {
        return 0;
    }
    return timeoutMs == 0 ? 1U : static_cast<unsigned>(timeoutMs);
}

// The board of a name the search gave is the device's bus; USB0, which no
// Linux bus carries, stands for any bus, as users and older scripts write it.
bool Addresses(const ResourceName& name, const InterfaceLocation& location)
{
    return (name.board == 0 || name.board == location.bus) && EqualsIgnoringCase(name.serial, location.serial) &&
           (name.usbInterface == -1 || name.usbInterface == location.interfaceNumber);
}

std::uint64_t MicrosecondsSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

UsbBackend::UsbBackend()
{
    const char* path = std::getenv("METERLOAD_USBTMC_TRANSCRIPT");
    transcript_.SetFile(path != nullptr ? path : "", false);
    Record(EventLine("load").Add("library", kLibraryFileName));
}

UsbBackend::~UsbBackend()
{
    devices_.clear();
    if (context_ != nullptr) {
        libusb_exit(context_);
    }
    Record(EventLine("unload"));
}

void UsbBackend::Record(const EventLine& line)
{
    transcript_.Record(MicrosecondsSince(loaded_), line);
}

const char* UsbBackend::MakerName() const
{
    return "MeterLoad USB transport";
}

ViStatus UsbBackend::ResourceManagerStatus()
{
    if (context_ == nullptr && libusb_init(&context_) != LIBUSB_SUCCESS) {
        context_ = nullptr;
        return VI_ERROR_SYSTEM_ERROR;
    }
    return VI_SUCCESS;
}

SearchResult UsbBackend::Search()
{
    SearchResult result = FindInstruments(context_);
    ReportDenied(result.deniedNodes);
    return result;
}

void UsbBackend::ReportDenied(const std::vector<std::string>& nodes)
{
    for (const std::string& node : nodes) {
        if (!reportedNodes_.insert(node).second) {
            continue;
        }
        Record(EventLine("denied").Add("node", node));
        std::fprintf(stderr,
                     "A ZQ6140 is attached at %s, but this user may not open that device node (permission "
                     "denied). Install the udev rule packaging/udev/70-zq6140.rules as "
                     "/usr/lib/udev/rules.d/70-zq6140.rules (the Debian package does), run "
                     "`udevadm control --reload` and plug the meter in again; or run as root.\n",
                     node.c_str());
    }
}

std::vector<std::string> UsbBackend::ResourceNames()
{
    std::vector<std::string> names;
    for (const InterfaceLocation& location : Search().instruments) {
        names.push_back(ResourceNameOf(location));
    }
    return names;
}

ViStatus UsbBackend::OpenInstrument(const ResourceName& name, Session& session)
{
    if (name.manufacturer != kVendorId || name.model != kProductId) {
        return VI_ERROR_RSRC_NFOUND;
    }
    for (const InterfaceLocation& location : Search().instruments) {
        if (!Addresses(name, location)) {
            continue;
        }
        int error = LIBUSB_SUCCESS;
        auto opened = std::make_shared<OpenDevice>();
        opened->device = UsbtmcDevice::Open(context_, location, error);
        if (!opened->device) {
            if (error == LIBUSB_ERROR_ACCESS) {
                ReportDenied({location.node});
            }
            return error == LIBUSB_ERROR_BUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
        }
        session.instrument = nextDevice_++;
        session.board = location.bus;
        session.name = ResourceNameOf(location);
        devices_[session.instrument] = opened;
        return VI_SUCCESS;
    }
    return VI_ERROR_RSRC_NFOUND;
}

void UsbBackend::CloseInstrument(const Session& session)
{
    // A transfer still running on another thread keeps the device until it ends.
    devices_.erase(session.instrument);
}

std::string UsbBackend::SerialOf(const Session& session) const
{
    const auto it = devices_.find(session.instrument);
    return it == devices_.end() ? std::string() : it->second->device->Location().serial;
}

std::shared_ptr<UsbBackend::OpenDevice> UsbBackend::DeviceOf(ViSession vi, ViStatus& status)
{
    const Session* session = sessions_.Find(vi, Session::Kind::Instrument);
    if (session == nullptr) {
        status = VI_ERROR_INV_OBJECT;
        return nullptr;
    }
    if (session->lost) {
        status = VI_ERROR_CONN_LOST;
        return nullptr;
    }
    status = VI_SUCCESS;
    return devices_.at(session->instrument);
}

ViStatus UsbBackend::StatusOf(Outcome outcome, std::size_t instrument)
{
    switch (outcome) {
    case Outcome::Done: return VI_SUCCESS;
    case Outcome::CountFull: return VI_SUCCESS_MAX_CNT;
    case Outcome::TimedOut: return VI_ERROR_TMO;
    case Outcome::Lost: sessions_.LoseInstrument(instrument); return VI_ERROR_CONN_LOST;
    case Outcome::Halted:
    case Outcome::BadReply:
    case Outcome::Failed: return VI_ERROR_IO;
    }
    return VI_ERROR_IO;
}

Transfer UsbBackend::Run(ViSession vi, const std::function<Transfer(UsbtmcDevice&, unsigned)>& io,
                         ViStatus& status)
{
    std::shared_ptr<OpenDevice> opened = DeviceOf(vi, status);
    Transfer transfer;
    if (!opened) {
        return transfer;
    }
    const Session& session = *sessions_.Find(vi);
    const std::size_t instrument = session.instrument;
    const unsigned timeout = LibusbTimeout(session.timeoutMs);
    const auto started = std::chrono::steady_clock::now();
    {
        const UnlockedTransfer unlocked;
        const std::lock_guard<std::mutex> lock(opened->io);
        transfer = io(*opened->device, timeout);
    }
    transfer.busUs = MicrosecondsSince(started);
    status = StatusOf(transfer.outcome, instrument);
    return transfer;
}

ViStatus UsbBackend::Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via)
{
    const auto called = std::chrono::steady_clock::now();
    EventLine line = IoEvent("viWrite", vi, count, via);
    ViStatus status = VI_ERROR_USER_BUF;
    Transfer transfer;
    if (buffer != nullptr || count == 0) {
        transfer = Run(
            vi, [&](UsbtmcDevice& device, unsigned timeout) { return device.Write(buffer, count, timeout); }, status);
    }
    if (returned != nullptr) {
        *returned = transfer.count;
    }
    line.AddStatus(status).Add("returned", transfer.count).Add("bus_us", transfer.busUs);
    if (buffer != nullptr) {
        line.AddHex("data", buffer, count);
    }
    Record(line.Add("call_us", MicrosecondsSince(called)));
    return status;
}

ViStatus UsbBackend::Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via)
{
    const auto called = std::chrono::steady_clock::now();
    EventLine line = IoEvent("viRead", vi, count, via);
    ViStatus status = VI_ERROR_USER_BUF;
    Transfer transfer;
    if (buffer != nullptr) {
        transfer = Run(
            vi, [&](UsbtmcDevice& device, unsigned timeout) { return device.Read(buffer, count, timeout); }, status);
    }
    if (returned != nullptr) {
        *returned = transfer.count;
    }
    line.AddStatus(status).Add("returned", transfer.count).Add("bus_us", transfer.busUs);
    if (transfer.count > 0) {
        line.AddHex("data", buffer, transfer.count);
    }
    Record(line.Add("call_us", MicrosecondsSince(called)));
    return status;
}

ViStatus UsbBackend::Clear(ViSession vi)
{
    ViStatus status = VI_SUCCESS;
    Run(
        vi,
        [](UsbtmcDevice& device, unsigned) {
            Transfer cleared;
            cleared.outcome = device.Clear();
            return cleared;
        },
        status);
    EventLine line("viClear");
    line.Add("vi", vi);
    Record(AddSerial(line, vi).AddStatus(status));
    return status;
}

}  // namespace usbtmc

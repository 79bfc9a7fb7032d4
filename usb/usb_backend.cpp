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

// VISA's board number, not a bus: any board reaches the meter with the serial.
bool Addresses(const ResourceName& name, const InterfaceLocation& location)
{
    return EqualsIgnoringCase(name.serial, location.serial) &&
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
    const char* debug = std::getenv("METERLOAD_USBTMC_DEBUG");
    trace_ = debug != nullptr && *debug != 0 && std::string(debug) != "0";
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
    const std::uint64_t now = MicrosecondsSince(loaded_);
    transcript_.Record(now, line);
    transcript_.ClearMemory();  // only the file keeps it: a long update must not grow the host
    if (trace_) {
        std::fprintf(stderr, "usbtmc %llu %s\n", static_cast<unsigned long long>(now), line.Text().c_str());
    }
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
    // The host program decides what its user is told; the transcript and the
    // trace keep it.
    for (const std::string& node : nodes) {
        if (reportedNodes_.insert(node).second) {
            Record(EventLine("denied").Add("node", node));
        }
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
        opened->device = UsbtmcDevice::Open(location, error);
        if (!opened->device) {
            if (error == LIBUSB_ERROR_ACCESS) {
                ReportDenied({location.node});
            }
            return error == LIBUSB_ERROR_BUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
        }
        session.instrument = nextDevice_++;
        session.board = name.board;
        session.name = ResourceNameOf(location, name.board);
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
    const auto found = devices_.find(session->instrument);
    if (found == devices_.end()) {
        status = VI_ERROR_INV_OBJECT;
        return nullptr;
    }
    status = VI_SUCCESS;
    return found->second;
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
    case Outcome::Refused:
    case Outcome::Failed: return VI_ERROR_IO;
    }
    return VI_ERROR_IO;
}

Transfer UsbBackend::Run(ViSession vi, const std::function<Transfer(UsbtmcDevice&, unsigned)>& io, ViStatus& status)
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
    const std::optional<std::uint8_t> termChar = TermCharOf(vi);
    if (buffer != nullptr) {
        transfer = Run(
            vi, [&](UsbtmcDevice& device, unsigned timeout) { return device.Read(buffer, count, timeout, termChar); },
            status);
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

std::optional<std::uint8_t> UsbBackend::TermCharOf(ViSession vi)
{
    const Session* session = sessions_.Find(vi, Session::Kind::Instrument);
    if (session == nullptr) {
        return std::nullopt;
    }
    const auto enabled = session->attributes.find(VI_ATTR_TERMCHAR_EN);
    if (enabled == session->attributes.end() || enabled->second == 0) {
        return std::nullopt;
    }
    const auto termChar = session->attributes.find(VI_ATTR_TERMCHAR);
    return static_cast<std::uint8_t>(termChar != session->attributes.end() ? termChar->second : '\n');
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

#include "tests/usb/emulated_bus.h"

#include "tests/usb/usb_descriptors.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace meterload::testing {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char pair[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string NodeAt(unsigned address)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", address);
    return node;
}

// Meter `index` (from 0) sits on port `index` + 1 of bus 1's root hub.
std::string SysPathOf(std::size_t index)
{
    return "/sys/devices/pci0000:00/usb1/1-" + std::to_string(index + 1);
}

// The sysfs entry, udev properties and node of meter `index` at `address` on bus 1.
std::string DeviceRecord(std::size_t index, unsigned address, const std::string& serial)
{
    const std::string node = NodeAt(address).substr(5);  // without /dev/
    std::vector<std::uint8_t> descriptors = DeviceDescriptor();
    const std::vector<std::uint8_t> configuration = ConfigurationDescriptor();
    descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());
    return "P: " + SysPathOf(index).substr(4) + "\n" + "N: " + node + "\n" +
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" + "E: DEVNAME=/dev/" + node + "\n" +
           "E: BUSNUM=001\nE: DEVNUM=" + node.substr(node.size() - 3) + "\n" +
           "A: busnum=1\\n\nA: devnum=" + std::to_string(address) + "\\n\n" +
           "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: idVendor=1d47\\n\nA: idProduct=0b62\\n\n" +
           "A: serial=" + serial + "\\n\n" + "H: descriptors=" + Hex(descriptors) + "\n";
}

}  // namespace

EmulatedBus::EmulatedBus(const std::string& instruments, const std::map<std::string, UsbFaults>& faults)
{
    std::vector<std::string> errors;
    if (!zqsim::LoadConfig(&instruments, config_, errors)) {
        throw std::invalid_argument("bad instrument configuration: " + (errors.empty() ? "" : errors.front()));
    }
    zqsim::InstrumentModel::Listener listener;
    listener.modeChanged = [this](const zqsim::InstrumentState& state) {
        Record(visa_surface::EventLine("mode")
                   .Add("serial", state.serial)
                   .Add("mode", state.updateMode ? "update" : "normal"));
    };
    listener.imageEnded = [this](const zqsim::InstrumentState& state, std::uint64_t size, std::uint32_t crc) {
        char crcText[12];
        std::snprintf(crcText, sizeof crcText, "%08" PRIX32, crc);
        Record(visa_surface::EventLine("image")
                   .Add("serial", state.serial)
                   .Add("index", state.imagesDone)
                   .Add("size", size)
                   .Add("crc32", crcText));
    };
    model_ = std::make_unique<zqsim::InstrumentModel>(config_, listener, [this] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count());
    });

    testbed_ = umockdev_testbed_new();
    // Asked only after the testbed exists: the answer is kept from the first call.
    if (!umockdev_in_mock_environment()) {
        whyNot_ = "umockdev's preload library is not active in this process";
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(HandleIoctl), this);

    meters_.resize(config_.serials.size());
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        const auto found = faults.find(config_.serials[i]);
        meters_[i].faults = found != faults.end() ? found->second : UsbFaults{};
        PowerUp(i, nextAddress_++);
        if (!Attach(i)) {
            return;
        }
    }
    started_ = true;
}

EmulatedBus::~EmulatedBus()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto* meters : {&meters_, &retired_}) {
            for (Meter& meter : *meters) {
                for (auto* list : {&meter.pendingIn, &meter.completed}) {
                    for (Urb& urb : *list) {
                        umockdev_ioctl_data_unref(urb.buffer);
                        umockdev_ioctl_data_unref(urb.data);
                    }
                    list->clear();
                }
            }
        }
    }
    if (handler_ != nullptr) {
        g_signal_handlers_disconnect_by_data(handler_, this);
    }
    g_clear_object(&testbed_);
    g_clear_object(&handler_);
}

void EmulatedBus::Record(const visa_surface::EventLine& line)
{
    const auto now = std::chrono::steady_clock::now() - start_;
    transcript_.Record(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                       line);
}

std::string EmulatedBus::TranscriptText() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return transcript_.Text();
}

std::vector<WireEvent> EmulatedBus::Transcript(const std::string& serial) const
{
    std::vector<WireEvent> selected;
    for (WireEvent& event : ParseTranscript(TranscriptText())) {
        if (event.Field("serial") == serial) {
            selected.push_back(std::move(event));
        }
    }
    return selected;
}

std::vector<std::vector<std::uint8_t>> EmulatedBus::Writes(const std::string& serial) const
{
    std::vector<std::vector<std::uint8_t>> writes;
    for (const WireEvent& event : Transcript(serial)) {
        if (event.name == "viWrite") {
            writes.push_back(event.bytes);
        }
    }
    return writes;
}

std::vector<std::size_t> EmulatedBus::OutPackets(const std::string& serial) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return MeterOf(serial).function->OutPackets();
}

const zqsim::InstrumentState& EmulatedBus::Instrument(const std::string& serial) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return model_->Instruments().at(static_cast<std::size_t>(&MeterOf(serial) - meters_.data()));
}

const EmulatedBus::Meter& EmulatedBus::MeterOf(const std::string& serial) const
{
    for (const Meter& meter : meters_) {
        if (meter.function->Serial() == serial) {
            return meter;
        }
    }
    throw std::invalid_argument("no emulated meter " + serial);
}

std::string EmulatedBus::NodeOf(const std::string& serial) const
{
    return MeterOf(serial).node;
}

std::string EmulatedBus::NodeFileOf(const std::string& serial) const
{
    return root_ + NodeOf(serial);
}

void EmulatedBus::Unplug(const std::string& serial)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    Meter& meter = const_cast<Meter&>(MeterOf(serial));
    meter.function->Unplug();
    EndAll(meter);
}

void EmulatedBus::PowerCycle()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    model_->PowerCycle();
}

EmulatedBus::Meter* EmulatedBus::MeterAt(const std::string& node)
{
    for (auto* meters : {&meters_, &retired_}) {
        for (Meter& meter : *meters) {
            if (meter.node == node) {
                return &meter;
            }
        }
    }
    return nullptr;
}

void EmulatedBus::PowerUp(std::size_t index, unsigned address)
{
    Meter& meter = meters_.at(index);
    meter.function = std::make_unique<UsbtmcFunction>(*model_, index, meter.faults,
                                                      [this](const visa_surface::EventLine& line) { Record(line); });
    meter.node = NodeAt(address);
    meter.address = address;
    meter.sysPath = SysPathOf(index);
}

bool EmulatedBus::Attach(std::size_t index)
{
    const std::string node = meters_.at(index).node;
    GError* error = nullptr;
    // The handler first, so that the node answers as soon as it appears.
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler_, &error)) {
        whyNot_ = "umockdev cannot emulate " + node + ": " + (error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    const std::string record = DeviceRecord(index, meters_.at(index).address, config_.serials.at(index));
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        whyNot_ = "umockdev cannot add " + node + ": " + (error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    return true;
}

void EmulatedBus::SwitchOff(const std::string& serial)
{
    std::string sysPath;
    std::string node;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Meter& meter = const_cast<Meter&>(MeterOf(serial));
        const auto index = static_cast<std::size_t>(&meter - meters_.data());
        if (model_->Instruments().at(index).switchedOff) {
            return;
        }
        Record(visa_surface::EventLine("power").Add("serial", serial).Add("switch", "off"));
        model_->SwitchOff(index);
        if (!meter.function->Unplugged()) {
            meter.function->Unplug();
        }
        EndAll(meter);
        sysPath = meter.sysPath;
        node = meter.node;
    }
    // As the kernel tells udev, before the entry goes; umockdev's own
    // removal sends nothing.
    umockdev_testbed_uevent(testbed_, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysPath.c_str());
    std::remove((root_ + node).c_str());
}

void EmulatedBus::SwitchOn(const std::string& serial)
{
    std::size_t index = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Meter& meter = const_cast<Meter&>(MeterOf(serial));
        index = static_cast<std::size_t>(&meter - meters_.data());
        if (!model_->Instruments().at(index).switchedOff) {
            return;
        }
        Record(visa_surface::EventLine("power").Add("serial", serial).Add("switch", "on"));
        model_->SwitchOn(index);
        // Whoever still holds the old node finds the device gone.
        Meter fresh;
        fresh.faults = meter.faults;
        retired_.push_back(std::move(meter));
        meter = std::move(fresh);
        PowerUp(index, nextAddress_++);
    }
    if (!Attach(index)) {
        throw std::runtime_error(whyNot_);
    }
}

int EmulatedBus::HandleIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, void* self)
{
    return static_cast<EmulatedBus*>(self)->Handle(client) ? TRUE : FALSE;
}

EmulatedBus::Load EmulatedBus::HandlerLoad() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    Load load = load_;
    clockid_t clock{};
    timespec cpu{};
    if (handlerThread_ && pthread_getcpuclockid(*handlerThread_, &clock) == 0 && clock_gettime(clock, &cpu) == 0) {
        load.threadCpu = std::chrono::seconds(cpu.tv_sec) + std::chrono::nanoseconds(cpu.tv_nsec);
    }
    return load;
}

bool EmulatedBus::Handle(UMockdevIoctlClient* client)
{
    const auto started = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    struct Counted {
        Load& load;
        std::chrono::steady_clock::time_point started;
        ~Counted()
        {
            ++load.calls;
            load.busy += std::chrono::steady_clock::now() - started;
        }
    } counted{load_, started};
    if (!handlerThread_) {
        handlerThread_ = pthread_self();
    }
    Meter* meter = MeterAt(umockdev_ioctl_client_get_devnode(client));
    if (meter == nullptr) {
        return false;
    }
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    if (meter->function->Unplugged() && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        if (request == USBDEVFS_SUBMITURB && meter->function->TakeProtocolError()) {
            // The host controller has not noticed yet: the transfer fails on the wire.
            const Urb urb = Resolve(client, argument);
            auto* failed = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
            failed->status = -EPROTO;
            failed->actual_length = 0;
            meter->completed.push_back(urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(argument, 0, sizeof(std::uint32_t), nullptr);
        // One URB per transfer, whatever its size.
        *reinterpret_cast<std::uint32_t*>(caps->data) =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_data_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLEAR_HALT: {
        UMockdevIoctlData* endpoint = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        meter->function->ClearHalt(static_cast<std::uint8_t>(*reinterpret_cast<unsigned*>(endpoint->data)));
        umockdev_ioctl_data_unref(endpoint);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        // The interface number leads usbdevfs_disconnect_claim too.
        const unsigned interface = *reinterpret_cast<unsigned*>(data->data);
        umockdev_ioctl_data_unref(data);
        Record(visa_surface::EventLine(request == USBDEVFS_RELEASEINTERFACE ? "release" : "claim")
                   .Add("serial", meter->function->Serial())
                   .Add("interface", interface)
                   .Add("detach", request == USBDEVFS_DISCONNECT_CLAIM ? "1" : "0"));
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP: umockdev_ioctl_client_complete(client, 0, 0); return true;
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_ioctl), nullptr);
        const usbdevfs_ioctl command = *reinterpret_cast<usbdevfs_ioctl*>(data->data);
        umockdev_ioctl_data_unref(data);
        if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            // The kernel's driver takes the interface back.
            Record(visa_surface::EventLine("attach")
                       .Add("serial", meter->function->Serial())
                       .Add("interface", static_cast<std::uint64_t>(command.ifno)));
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        }
        return true;
    }
    case USBDEVFS_GETDRIVER:
        // No kernel driver is bound while the emulated interface is claimed.
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
    case USBDEVFS_SUBMITURB: Submit(*meter, client, argument); return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: Reap(*meter, client, argument); return true;
    case USBDEVFS_DISCARDURB: Discard(*meter, client, argument); return true;
    default: return false;
    }
}

EmulatedBus::Urb EmulatedBus::Resolve(UMockdevIoctlClient* client, UMockdevIoctlData* argument)
{
    Urb urb;
    urb.client = client;
    urb.data = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
    const auto* request = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    urb.buffer = umockdev_ioctl_data_resolve(urb.data, offsetof(usbdevfs_urb, buffer),
                                             static_cast<gsize>(request->buffer_length), nullptr);
    return urb;
}

void EmulatedBus::Submit(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument)
{
    const Urb urb = Resolve(client, argument);
    auto* request = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    request->status = 0;
    request->actual_length = 0;
    auto* bytes = urb.buffer->data;
    const auto length = static_cast<std::size_t>(request->buffer_length);
    if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
        const auto reply = (bytes[0] & 0x80) != 0 ? meter.function->Control(bytes) : std::vector<std::uint8_t>();
        if (!reply) {
            request->status = -EPIPE;
        } else {
            std::copy(reply->begin(), reply->end(), bytes + 8);
            request->actual_length = static_cast<int>(reply->size());
        }
        meter.completed.push_back(urb);
    } else if (request->type == USBDEVFS_URB_TYPE_BULK && request->endpoint == UsbtmcFunction::kBulkOut) {
        std::size_t accepted = 0;
        const OutResult result = meter.function->BulkOut(bytes, length, accepted);
        request->actual_length = static_cast<int>(accepted);
        request->status = result == OutResult::Halted           ? -EPIPE
                          : result != OutResult::Unplugged      ? 0
                          : meter.function->TakeProtocolError() ? -EPROTO
                                                                : -ENODEV;
        meter.completed.push_back(urb);
    } else if (request->type == USBDEVFS_URB_TYPE_BULK && request->endpoint == UsbtmcFunction::kBulkIn) {
        meter.pendingIn.push_back(urb);
    } else {
        umockdev_ioctl_data_unref(urb.buffer);
        umockdev_ioctl_data_unref(urb.data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    if (meter.function->Unplugged()) {
        EndAll(meter);
    } else {
        FillIn(meter);
    }
}

void EmulatedBus::FillIn(Meter& meter)
{
    while (!meter.pendingIn.empty()) {
        Urb& urb = meter.pendingIn.front();
        auto* request = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
        const auto data = meter.function->BulkIn(static_cast<std::size_t>(request->buffer_length));
        if (!data) {
            return;
        }
        std::copy(data->begin(), data->end(), urb.buffer->data);
        request->actual_length = static_cast<int>(data->size());
        request->status = 0;
        meter.completed.push_back(urb);
        meter.pendingIn.erase(meter.pendingIn.begin());
    }
}

void EmulatedBus::EndAll(Meter& meter)
{
    for (Urb& urb : meter.pendingIn) {
        reinterpret_cast<usbdevfs_urb*>(urb.data->data)->status =
            meter.function->TakeProtocolError() ? -EPROTO : -ESHUTDOWN;
        meter.completed.push_back(urb);
    }
    meter.pendingIn.clear();
}

void EmulatedBus::Reap(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument)
{
    for (auto it = meter.completed.begin(); it != meter.completed.end(); ++it) {
        if (it->client != client) {
            continue;
        }
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, it->data);
        umockdev_ioctl_data_unref(pointer);
        umockdev_ioctl_data_unref(it->buffer);
        umockdev_ioctl_data_unref(it->data);
        meter.completed.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, meter.function->Unplugged() ? ENODEV : EAGAIN);
}

void EmulatedBus::Discard(Meter& meter, UMockdevIoctlClient* client, UMockdevIoctlData* argument)
{
    const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(argument->data));
    for (auto it = meter.pendingIn.begin(); it != meter.pendingIn.end(); ++it) {
        if (it->client == client && it->data->client_addr == address) {
            auto* request = reinterpret_cast<usbdevfs_urb*>(it->data->data);
            // What arrived before the host gave up stays in the buffer.
            const auto data = meter.function->BulkIn(static_cast<std::size_t>(request->buffer_length), true);
            if (data) {
                std::copy(data->begin(), data->end(), it->buffer->data);
                request->actual_length = static_cast<int>(data->size());
            }
            request->status = -ENOENT;
            meter.completed.push_back(*it);
            meter.pendingIn.erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

}  // namespace meterload::testing

#include "usb/usb_search.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace usbtmc {
namespace {

constexpr std::uint8_t kClassApplication = 0xFE;
constexpr std::uint8_t kSubclassUsbtmc = 0x03;

std::string NodeOf(libusb_device* device)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return node;
}

// The bulk endpoints of a USBTMC interface; false when it lacks one.
bool TakeEndpoints(const libusb_interface_descriptor& setting, InterfaceLocation& location)
{
    location.bulkIn = 0;
    location.bulkOut = 0;
    for (std::uint8_t e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
        if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
            continue;
        }
        if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
            location.bulkIn = endpoint.bEndpointAddress;
            location.packetSize = static_cast<std::uint16_t>(endpoint.wMaxPacketSize & 0x7FF);
        } else {
            location.bulkOut = endpoint.bEndpointAddress;
        }
    }
    return location.bulkIn != 0 && location.bulkOut != 0 && location.packetSize != 0;
}

std::vector<InterfaceLocation> UsbtmcInterfaces(libusb_device* device)
{
    std::vector<InterfaceLocation> found;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
        return found;
    }
    for (std::uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            InterfaceLocation location;
            if (setting.bInterfaceClass == kClassApplication && setting.bInterfaceSubClass == kSubclassUsbtmc &&
                TakeEndpoints(setting, location)) {
                location.interfaceNumber = setting.bInterfaceNumber;
                found.push_back(location);
                break;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

}  // namespace

SearchResult FindInstruments(libusb_context* context)
{
    SearchResult result;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS || descriptor.idVendor != kVendorId ||
            descriptor.idProduct != kProductId) {
            continue;
        }
        std::vector<InterfaceLocation> interfaces = UsbtmcInterfaces(device);
        if (interfaces.empty()) {
            continue;
        }
        // The serial number is a string descriptor: the device must be opened.
        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(device, &handle);
        if (opened == LIBUSB_ERROR_ACCESS) {
            result.deniedNodes.push_back(NodeOf(device));
            continue;
        }
        if (opened != LIBUSB_SUCCESS) {
            continue;
        }
        unsigned char serial[256] = {};
        const int length =
            descriptor.iSerialNumber == 0
                ? 0
                : libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial, sizeof serial - 1);
        libusb_close(handle);
        if (length <= 0) {
            continue;  // without a serial it has no resource name
        }
        for (InterfaceLocation& location : interfaces) {
            location.bus = libusb_get_bus_number(device);
            location.address = libusb_get_device_address(device);
            location.serial.assign(reinterpret_cast<const char*>(serial), static_cast<std::size_t>(length));
            location.node = NodeOf(device);
            result.instruments.push_back(location);
        }
    }
    libusb_free_device_list(list, 1);
    std::sort(result.instruments.begin(), result.instruments.end(),
              [](const InterfaceLocation& a, const InterfaceLocation& b) {
                  return std::tie(a.bus, a.address, a.interfaceNumber) < std::tie(b.bus, b.address, b.interfaceNumber);
              });
    return result;
}

std::string ResourceNameOf(const InterfaceLocation& location, unsigned board)
{
    return "USB" + std::to_string(board) + "::0x1D47::0x0B62::" + location.serial + "::INSTR";
}

}  // namespace usbtmc

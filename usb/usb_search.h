// The ZQ6140s on the USB buses: every USBTMC interface (class 0xFE, subclass
// 0x03) of a device with the instrument's vendor and product ids, with the
// serial number its string descriptor gives.
#pragma once

#include "usb/usbtmc_device.h"

#include <string>
#include <vector>

namespace usbtmc {

constexpr std::uint16_t kVendorId = 0x1D47;
constexpr std::uint16_t kProductId = 0x0B62;

struct SearchResult {
    std::vector<InterfaceLocation> instruments;  // in bus and address order
    std::vector<std::string> deniedNodes;        // matching devices this user may not open
};

SearchResult FindInstruments(libusb_context* context);

// USB<board>::0x1D47::0x0B62::<serial>::INSTR: the board is VISA's, 0 unless
// the name a session was opened with gives another, never the USB bus.
std::string ResourceNameOf(const InterfaceLocation& location, unsigned board = 0);

}  // namespace usbtmc

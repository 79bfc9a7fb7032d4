#include "tests/usb/usb_descriptors.h"

namespace meterload::testing {

std::vector<std::uint8_t> DeviceDescriptor()
{
    return {18,   0x01, 0x00, 0x02,  // USB 2.0
            0x00, 0x00, 0x00, 64,    // class per interface, 64-byte control packets
            0x47, 0x1D, 0x62, 0x0B,  // vendor 0x1D47, product 0x0B62
            0x00, 0x01, 1,    2,    3, 1};
}

std::vector<std::uint8_t> ConfigurationDescriptor()
{
    return {9, 0x02, 39,   0,    1,  1,    0,    0x80, 50,  // one interface, bus powered
            9, 0x04, 0,    0,    3,  0xFE, 0x03, 0x01, 0,   // USBTMC, USB488
            7, 0x05, 0x01, 0x02, 64, 0,    0,               // bulk out
            7, 0x05, 0x82, 0x02, 64, 0,    0,               // bulk in
            7, 0x05, 0x83, 0x03, 8,  0,    10};             // interrupt in
}

std::optional<std::vector<std::uint8_t>> StringDescriptor(std::uint8_t index, const std::string& serial)
{
    if (index == 0) {
        return std::vector<std::uint8_t>{4, 0x03, 0x09, 0x04};
    }
    const char* const texts[] = {"KORVALEN", "ZQ6140"};
    const std::string text = index == 3 ? serial : index <= 2 ? texts[index - 1] : "";
    if (text.empty()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (const char c : text) {
        descriptor.push_back(static_cast<std::uint8_t>(c));
        descriptor.push_back(0);
    }
    return descriptor;
}

}  // namespace meterload::testing

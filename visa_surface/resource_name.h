// USB instrument resource names: USB[board]::manufacturer::model::serial
// [::interface]::INSTR, identifiers in hex (0x1D47) or decimal (7495).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace visa_surface {

struct ResourceName {
    unsigned board = 0;
    std::uint16_t manufacturer = 0;
    std::uint16_t model = 0;
    std::string serial;
    int usbInterface = -1;  // -1 when the name gives none
};

enum class IdNotation { Hex, Decimal };

// Null when `text` is not a USB INSTR name. Case is ignored; "USB::" is board 0.
std::optional<ResourceName> ParseResourceName(const std::string& text);

// The name under which the ZQ6140 with `serial` enumerates.
std::string FormatResourceName(const std::string& serial, IdNotation notation);

// Case-insensitive comparison of ASCII texts.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace visa_surface

// Bytes as lowercase hex digits, as digests are shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace meterload {

inline std::string HexText(const std::uint8_t* bytes, std::size_t count)
{
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace meterload

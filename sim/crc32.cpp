#include "sim/crc32.h"

#include <array>

namespace zqsim {
namespace {

std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = MakeTable();
    std::uint32_t c = crc ^ 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        c = table[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFU;
}

}  // namespace zqsim

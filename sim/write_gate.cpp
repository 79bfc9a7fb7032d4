#include "sim/write_gate.h"

#include <charconv>
#include <fstream>
#include <system_error>

namespace zqsim {

bool WriteGateHolds(const std::string& folder, const std::string& serial, std::uint64_t endBytes)
{
    std::ifstream file(folder + "/" + serial, std::ios::binary);
    if (!file) {
        return false;
    }
    std::string word;
    std::uint64_t open = 0;
    if (!(file >> word)) {
        return true;
    }
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), open);
    if (error != std::errc() || end != word.data() + word.size()) {
        return true;
    }
    return endBytes > open;
}

}  // namespace zqsim

#include "sim/write_gate.h"

#include <cctype>
#include <fstream>

namespace zqsim {

bool WriteGateHolds(const std::string& folder, const std::string& serial, std::uint64_t endBytes)
{
    std::ifstream file(folder + "/" + serial, std::ios::binary);
    if (!file) {
        return false;
    }
    std::string word;
    if (!(file >> word) || word.size() > 19) {
        return true;
    }
    std::uint64_t open = 0;
    for (const char c : word) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return true;
        }
        open = open * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return endBytes > open;
}

}  // namespace zqsim

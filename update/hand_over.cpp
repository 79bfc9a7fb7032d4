#include "update/hand_over.h"

namespace meterload {

std::string HandOverText(const std::string& directory, const std::string& serial)
{
    return directory + "@" + serial;
}

std::optional<std::string> SerialFromHandOver(const std::string& handOver)
{
    const std::size_t folderEnd = handOver.find_last_of("\\/");
    const std::size_t at = handOver.find('@', folderEnd == std::string::npos ? 0 : folderEnd + 1);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return handOver.substr(at + 1);
}

}  // namespace meterload

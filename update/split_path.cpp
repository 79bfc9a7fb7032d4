#include "update/split_path.h"

namespace meterload {

PathParts SplitPath(const std::string& path)
{
    const std::size_t last = path.find_last_of("\\/");
    if (last == std::string::npos) {
        return {std::string(), path};
    }
    return {path.substr(0, last + 1), path.substr(last + 1)};
}

}  // namespace meterload

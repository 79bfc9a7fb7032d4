#include "update/package_name.h"

#include <string_view>

namespace meterload {

bool IsPackageName(const std::string& fileName)
{
    constexpr std::string_view kPackageEnding = ".pak";
    return fileName.size() >= kPackageEnding.size() &&
           fileName.compare(fileName.size() - kPackageEnding.size(), kPackageEnding.size(), kPackageEnding) == 0;
}

}  // namespace meterload

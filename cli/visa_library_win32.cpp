// On Windows the installed VISA library is found by the system's search under
// its one name; there is nothing further to look for.
#include "cli/visa_library.h"

namespace meterload::cli {

std::vector<std::string> KnownVisaLibraryNames()
{
    return {};
}
std::vector<std::string> KnownVisaLibraryFiles()
{
    return {};
}
// The USB transport is for Linux, where vendors' VISA libraries are rare.
std::vector<std::string> BuiltInTransportFiles()
{
    return {};
}

}  // namespace meterload::cli

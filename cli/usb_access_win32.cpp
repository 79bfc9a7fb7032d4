// Windows has no USB device nodes: the built-in transport is Linux's.
#include "cli/usb_access.h"

namespace meterload::cli {

std::vector<std::string> UnreachableMeterNodes()
{
    return {};
}

}  // namespace meterload::cli

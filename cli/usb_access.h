// The ZQ6140s on this PC's USB buses whose device node this user may not
// open: what the built-in USB transport cannot reach, for the command line
// to name with its remedy (the transport itself prints nothing).
#pragma once

#include <string>
#include <vector>

namespace meterload::cli {

// /dev/bus/usb/BBB/DDD of each such meter; none where there are no such
// nodes (Windows).
std::vector<std::string> UnreachableMeterNodes();

}  // namespace meterload::cli

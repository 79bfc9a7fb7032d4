// install on several instruments at once (--all, or --serial given more than
// once): one thread and one connection per instrument, each running the same
// install as for one alone; one question for all; a board of progress lines
// and a summary table.
#pragma once

#include "cli/install_run.h"
#include "cli/report.h"

#include <string>
#include <vector>

namespace meterload::cli {

// `serials`: the instruments named, distinct, in the order given; empty for
// every attached one. The file has passed its checks.
int InstallOnSeveral(Report& report, const std::string& visaLibraryOption, const std::vector<std::string>& serials,
                     const InstallSettings& settings);

}  // namespace meterload::cli

#include "cli/arguments.h"

namespace meterload::cli {

void UseUtf8CommandLine(int&, char**&) {}

}  // namespace meterload::cli

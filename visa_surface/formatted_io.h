// viQueryf's formatted write and read, for the directives a simple client
// uses: %s %d %i %u %x %c %% when writing; %s %t %T %d %i %u %x %c %f and the
// # size modifier when reading.
#pragma once

#include "visa_surface/visa_constants.h"

#include <cstdarg>

namespace visa_surface {

// Strings read without a size (no # and no width) are cut to this many
// bytes plus the terminating zero, the customary VISA buffer.
constexpr unsigned kUnsizedStringLimit = 255;

ViStatus FormattedQuery(ViSession vi, const char* writeFormat, const char* readFormat, va_list args);

}  // namespace visa_surface

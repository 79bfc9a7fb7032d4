// The cells of the command line's text tables.
#pragma once

#include <cstdint>
#include <string>

namespace meterload::cli {

// `text` padded with blanks to `width`; longer text is kept whole.
std::string Cell(std::string text, std::size_t width);

// "7.3 s".
std::string Seconds(std::int64_t ms);

}  // namespace meterload::cli

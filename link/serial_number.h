// The serial number inside a VISA resource descriptor.
#pragma once

#include <string>
#include <string_view>

namespace meterload {

// The fourth ':'-separated field (runs of ':' count as one separator, empty
// fields are skipped): "ABC123" for USB0::0x1D47::0x0B62::ABC123::INSTR.
// Empty when the descriptor has fewer than four fields.
std::string SerialNumberFromDescriptor(std::string_view descriptor);

}  // namespace meterload

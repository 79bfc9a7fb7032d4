#include "link/serial_number.h"

namespace meterload {

std::string SerialNumberFromDescriptor(std::string_view descriptor)
{
    const auto end = descriptor.find('\0');
    if (end != std::string_view::npos) {
        descriptor = descriptor.substr(0, end);
    }
    int field = 0;
    std::size_t pos = 0;
    while (pos < descriptor.size()) {
        const std::size_t start = descriptor.find_first_not_of(':', pos);
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t stop = descriptor.find(':', start);
        if (stop == std::string_view::npos) {
            stop = descriptor.size();
        }
        if (++field == 4) {
            return std::string(descriptor.substr(start, stop - start));
        }
        pos = stop;
    }
    return {};
}

}  // namespace meterload

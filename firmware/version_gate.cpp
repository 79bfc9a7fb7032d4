#include "firmware/version_gate.h"

#include <cstddef>

namespace meterload {

namespace {

struct GateRow {
    std::size_t instrumentFirst;  // first position in the instrument's field
    std::size_t length;           // characters compared, from image position 0
};

constexpr std::string_view kExemption = "02.xx";

// A position the field does not reach reads as a zero byte, as a missing
// header byte decodes to zero: it compares lower than any digit, so an
// instrument that leaves a version out lets the image through.
char FieldAt(std::string_view field, std::size_t position)
{
    return position < field.size() ? field[position] : '\0';
}

bool RowFor(std::uint8_t targetKind, GateRow& row)
{
    switch (static_cast<TargetKind>(targetKind)) {
    case TargetKind::Dsp: row = {0, 5}; return true;
    case TargetKind::Panel: row = {6, 2}; return true;
    case TargetKind::Msp430: row = {9, 2}; return true;
    }
    return false;
}

}  // namespace

bool VersionGate(std::string_view firmwareVersionField, const ImageHeader& header)
{
    // Only a field holding all five characters can carry the exemption.
    if (firmwareVersionField.substr(0, kExemption.size()) == kExemption) {
        return true;
    }
    GateRow row{};
    if (!RowFor(header.targetKind, row)) {
        return true;  // names no processor, so there is nothing to compare
    }
    for (std::size_t i = 0; i < row.length; ++i) {
        // Characters compare as signed 8-bit codes.
        const auto installed =
            static_cast<signed char>(FieldAt(firmwareVersionField, row.instrumentFirst + i));
        const auto offered = static_cast<signed char>(header.version[i]);
        if (installed != offered) {
            return installed < offered;
        }
    }
    return false;  // the same version is not installed again
}

}  // namespace meterload

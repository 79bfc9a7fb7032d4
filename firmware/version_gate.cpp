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
        const auto installed = static_cast<signed char>(FieldAt(firmwareVersionField, row.instrumentFirst + i));
        const auto offered = static_cast<signed char>(header.version[i]);
        if (installed != offered) {
            return installed < offered;
        }
    }
    return false;  // the same version is not installed again
}

VersionCheck CheckInstalledVersion(std::string_view firmwareVersionField, const ImageHeader& header)
{
    GateRow row{};
    if (!RowFor(header.targetKind, row)) {
        return VersionCheck::NotChecked;
    }
    // A field too short for the positions reports no version at all.
    if (firmwareVersionField.size() < row.instrumentFirst + row.length) {
        return VersionCheck::NotVerified;
    }
    const std::string_view reported = firmwareVersionField.substr(row.instrumentFirst, row.length);
    const std::string_view sent(header.version.data(), row.length);
    return reported == sent ? VersionCheck::Verified : VersionCheck::NotVerified;
}

std::string ComparedImageVersion(const ImageHeader& header)
{
    GateRow row{};
    if (!RowFor(header.targetKind, row)) {
        return std::string();
    }
    // The version ends early at a zero byte, as the header's text does.
    const std::string_view version(header.version.data(), row.length);
    return std::string(version.substr(0, version.find('\0')));
}

std::string ComparedInstrumentVersion(std::string_view firmwareVersionField, const ImageHeader& header)
{
    GateRow row{};
    if (!RowFor(header.targetKind, row) || row.instrumentFirst >= firmwareVersionField.size()) {
        return std::string();
    }
    return std::string(firmwareVersionField.substr(row.instrumentFirst, row.length));
}

}  // namespace meterload

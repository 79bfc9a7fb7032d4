// Whether an image may replace the firmware the instrument reports, and
// whether, after the power cycle, the instrument reports the image's version.
#pragma once

#include "firmware/image_header.h"

#include <string>
#include <string_view>

namespace meterload {

// `firmwareVersionField` is the text after the last comma of the instrument's
// identification reply. True when the image may be installed.
bool VersionGate(std::string_view firmwareVersionField, const ImageHeader& header);

enum class VersionCheck {
    Verified,     // the processor's positions hold the image's version
    NotVerified,  // they hold something else, or the field does not reach them
    NotChecked,   // the image names no processor, so no version can be compared
};

// Whether the instrument now runs the image: the gate's positions of the
// field against the image version's first characters, as equal text.
VersionCheck CheckInstalledVersion(std::string_view firmwareVersionField, const ImageHeader& header);

// The characters that take part for the image's processor: those of the
// image version, and those at the instrument's positions (as far as the field
// reaches). Empty for an image that names no processor.
std::string ComparedImageVersion(const ImageHeader& header);
std::string ComparedInstrumentVersion(std::string_view firmwareVersionField, const ImageHeader& header);

}  // namespace meterload

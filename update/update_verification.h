// After an update and the power cycle: the instrument is identified again, as
// every update begins, and its versions are compared with what the image
// carried. The history keeps the verdict as a record of its own.
#pragma once

#include "firmware/image_header.h"
#include "firmware/version_gate.h"
#include "update/update_context.h"
#include "update/update_record.h"

#include <chrono>
#include <string>

namespace meterload {

struct Verification {
    enum class Found { Instrument, Nothing, WrongMode };
    Found found = Found::Nothing;
    // NotVerified for an instrument in the wrong mode; meaningless when
    // nothing was found.
    VersionCheck check = VersionCheck::NotVerified;
    std::string firmwareVersionField;  // as reported, line end included
    std::string expected;              // the image's characters that take part
    std::string reported;              // the instrument's at the same positions
};

// Identifies the instrument `context.serial` (closing its connection again)
// and judges its versions against `header`, the image's or that of a
// package's entry 1. Nothing is sent but the identification.
Verification VerifyInstalled(const UpdateContext& context, const ImageHeader& header);

// The verdict for people, to follow "the ZQ6140": "reports DSP 02.05, not 02.06".
std::string VerificationText(const Verification& verification, std::uint8_t targetKind);

// The history's record of a verification of the file at `path`; `reason`
// overrides the verdict's own text (an instrument that never came back).
UpdateRecord VerificationRecord(const std::string& serial, const std::string& path, const std::string& result,
                                const std::string& firmwareVersionField, const std::string& reason,
                                std::chrono::milliseconds waited);

}  // namespace meterload

// How a verification ended, and what that means for the exit code: the
// words the history, the JSON output and the summary keep, in one table.
#pragma once

#include "firmware/version_gate.h"
#include "update/exit_codes.h"

namespace meterload {

enum class VerifyResult {
    Verified,     // it reports the version the file carried
    NotVerified,  // it reports another, is in the wrong mode, or never came back
    NotChecked,   // the image names no processor to compare
    NotFound,     // verify only: not attached
    Stopped,      // install --verify: Ctrl+C before it came back
};

struct VerifyResultFacts {
    const char* text;  // "verified", "not verified", ...
    ExitCode code;     // of `verify`; an install keeps its own unless it is NotVerified
};

const VerifyResultFacts& FactsOf(VerifyResult result);
inline const char* VerifyResultText(VerifyResult result)
{
    return FactsOf(result).text;
}

VerifyResult VerifyResultOf(VersionCheck check);

}  // namespace meterload

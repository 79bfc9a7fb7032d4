// The malformed firmware files kept in tests/corpus/files: every way an
// image's header or a package's table can be refused, each file named for what
// is wrong with it, with the refusal it must meet.
#pragma once

#include "tests/support/package_builder.h"

#include <string>
#include <vector>

namespace meterload::testing {

enum class Refusal {
    Identity,  // the header does not name the ZQ6140
    GateDsp,   // the version gate refuses, in the DSP wording
    GatePanel,
    GateMsp430,
    Damaged,  // the whole-package check refuses; `reason` is its second line
    NoBody,   // nothing to refuse in the header: a header without a body
};

struct MalformedFile {
    std::string name;  // ends in .bin (single image) or .pak (package)
    Bytes bytes;
    Refusal refusal;
    std::string reason;  // Damaged only

    bool IsPackage() const { return name.size() > 4 && name.compare(name.size() - 4, 4, ".pak") == 0; }
    // The name as a test's name: "lead_dsp_equal_pak".
    std::string TestName() const;
};

// For an instrument that reports 02.05-11-07.
std::vector<MalformedFile> MalformedCorpus();

// The processor a gate refusal names: "DSP", "Panel" or "MSP 430".
const char* GateProcessor(Refusal refusal);
// The message-box text that refuses `file`; empty for a header without body.
std::string RefusalBoxText(const MalformedFile& file);

}  // namespace meterload::testing

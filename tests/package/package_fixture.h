// A package update against the simulated ZQ6140 on virtual time, with its
// whole timeline recorded, and the expected timeline of a run that follows
// the package through.
#pragma once

#include "tests/package/package_timeline.h"
#include "tests/support/package_builder.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"
#include "update/update_context.h"
#include "update/update_outcome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace meterload::testing {

// What a package update returns when every image was acknowledged, and when
// it stopped in update mode or before it.
inline const ProcedureResult kInstalled{UpdateStage::Finished, true, StopReason::None};
inline ProcedureResult StoppedInUpdateMode(StopReason reason)
{
    return {UpdateStage::Transfer, true, reason};
}
inline ProcedureResult RefusedBeforeUpdateMode(StopReason reason)
{
    return {UpdateStage::Checks, false, reason};
}

inline constexpr const char* kSerial = "ABC123";
inline constexpr const char* kHandOver = "C:\\fw\\@ABC123";
inline constexpr const char* kIdnReply = "KORVALEN,ZQ6140,ABC123,02.05-11-07\n";

// Items of the simulator's reply script ("0", "ab0", "none", ...) and the
// bytes each one brings.
std::string RepliesConfig(const std::vector<std::string>& items);
Bytes ReplyBytes(const std::string& item);

// Entry 1 of a package: a DSP image newer than the instrument's firmware.
Bytes LeadImage(std::size_t size, const std::string& version = "02.06", std::uint8_t targetKind = 0);
// Any other entry: plain bytes, different for each seed.
Bytes PlainImage(std::size_t size, std::uint8_t seed);

class PackageUpdateTest : public ::testing::Test {
protected:
    PackageUpdateTest();

    void Configure(const std::string& text);
    // Writes the package with entry 1 first and the others in table order.
    std::string WritePackage(const Bytes& lead, const std::vector<Bytes>& others = {});
    std::string PackagePath() const;

    ProcedureResult Install(const std::string& handOver = kHandOver);
    ProcedureResult Install(const std::string& packagePath, const std::string& handOver);

    // What a run over this package does, with the reply script `replies`
    // ("0" once it runs out), up to where a reply or the failed EndFrame of
    // image `failingFrame` (in sending order, from 1; 0 for none) stops it.
    static ExpectedTimeline ExpectedInstall(const Bytes& lead, const std::vector<Bytes>& others,
                                            const std::vector<std::string>& replies = {},
                                            const std::string& idnReply = kIdnReply, std::size_t failingFrame = 0);

    // The record so far, and a message that shows it against `expected`.
    std::string Actual() { return timeline_.Text(); }

    SimInstrument sim_;
    VirtualClock virtualClock_;
    Timeline timeline_;
    TimelineClock clock_;
    RecordingDialog recorder_;
    TimelineDialog dialog_;
    UpdateContext context_;
};

}  // namespace meterload::testing

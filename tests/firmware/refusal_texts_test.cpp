// The exact texts of an identity or version refusal.
#include "firmware/refusal_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace meterload {
namespace {

using Lines = std::vector<std::string>;

TEST(RefusalTextsTest, IdentityMismatch)
{
    EXPECT_EQ(IdentityMismatchLogLines(),
              (Lines{"Firmware update was not successful.  Please be sure you selected the ",
                     "correct firmware file in the installation process.", "\n",
                     "Click \"Exit\" to end this update process and turn ZQ6140 power off then",
                     "back on and try the update again."}));
    EXPECT_EQ(IdentityMismatchBoxText(), "Firmware update was not successful.\nPlease be sure you selected the correct "
                                         "firmware file in the installation process.");
}

struct GateTextCase {
    std::uint8_t targetKind;
    std::string processor;
};

void PrintTo(const GateTextCase& c, std::ostream* out)
{
    *out << "target kind " << int{c.targetKind};
}

class GateRefusalTextTest : public ::testing::TestWithParam<GateTextCase> {};

TEST_P(GateRefusalTextTest, NamesTheProcessor)
{
    const GateTextCase& c = GetParam();
    EXPECT_EQ(GateRefusalLogLines(c.targetKind),
              (Lines{"Firmware Update Not Possible (" + c.processor + "). Binary file version is older than ",
                     "instrument version.",
                     "Please press the \"Exit\" button to exit and recycle power on instrument."}));
    EXPECT_EQ(GateRefusalBoxText(c.targetKind), "Firmware Update Not Possible (" + c.processor +
                                                    ").\nBinary file version is older than instrument version.");
}

INSTANTIATE_TEST_SUITE_P(Kinds, GateRefusalTextTest,
                         ::testing::Values(GateTextCase{0, "DSP"}, GateTextCase{1, "Panel"}, GateTextCase{2, "MSP 430"},
                                           // the gate never refuses these; DSP wording
                                           GateTextCase{3, "DSP"}, GateTextCase{255, "DSP"}));

}  // namespace
}  // namespace meterload

// Whether an image may replace the installed firmware.
#include "firmware/version_gate.h"

#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace meterload {
namespace {

struct GateCase {
    const char* name;
    std::string field;    // the instrument's FirmwareVersionField
    std::string version;  // the image's, up to 5 characters
    std::uint8_t targetKind;
    bool admitted;
};

void PrintTo(const GateCase& c, std::ostream* out)
{
    *out << c.name;
}

constexpr std::uint8_t kDsp = 0;
constexpr std::uint8_t kPanel = 1;
constexpr std::uint8_t kMsp = 2;

const std::string kField = "02.05-11-07";

class VersionGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(VersionGateTest, Decides)
{
    const GateCase& c = GetParam();
    testing::ImageSpec spec;
    spec.version = c.version;
    spec.targetKind = c.targetKind;
    const auto stored = testing::ImageHeaderBytes(spec);
    const ImageHeader header = DecodeImageHeader(stored.data(), stored.size());
    EXPECT_EQ(VersionGate(c.field, header), c.admitted)
        << "field \"" << c.field << "\" (" << c.field.size() << " chars), image \"" << c.version << "\", target kind "
        << int{c.targetKind};
}

std::string CaseName(const ::testing::TestParamInfo<GateCase>& info)
{
    return info.param.name;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Examples, VersionGateTest, ::testing::Values(
    GateCase{"DspNewer", kField, "02.06", kDsp, true},
    GateCase{"DspEqual", kField, "02.05", kDsp, false},
    GateCase{"DspOlder", kField, "01.99", kDsp, false},
    GateCase{"DspNewerInFirstCharacter", kField, "10.00", kDsp, true},
    GateCase{"PanelNewer", kField, "12", kPanel, true},
    GateCase{"PanelEqual", kField, "11", kPanel, false},
    GateCase{"PanelOlder", kField, "10", kPanel, false},
    GateCase{"PanelIgnoresLastThreeImageCharacters", kField, "11.99", kPanel, false},
    GateCase{"MspNewer", kField, "08", kMsp, true},
    GateCase{"MspEqual", kField, "07", kMsp, false},
    GateCase{"MspOlder", kField, "06", kMsp, false},
    GateCase{"FieldEndingInLineFeed", "02.10-05-12\n", "13", kMsp, true},
    GateCase{"FieldEndingInLineFeedEqual", "02.10-05-12\n", "12", kMsp, false}), CaseName);

INSTANTIATE_TEST_SUITE_P(Exemption, VersionGateTest, ::testing::Values(
    GateCase{"DspEqual", "02.xx-11-07", "02.xx", kDsp, true},
    GateCase{"DspOlder", "02.xx-11-07", "01.00", kDsp, true},
    GateCase{"PanelEqual", "02.xx-11-07", "11", kPanel, true},
    GateCase{"MspOlder", "02.xx-11-07", "00", kMsp, true},
    GateCase{"NothingAfterIt", "02.xx", "00.00", kDsp, true},
    GateCase{"UpperCaseX", "02.XX-11-07", "01.00", kDsp, false},
    GateCase{"ElsewhereInField", "02.05 02.xx", "01.00", kDsp, false},
    GateCase{"NeedsAllFiveCharacters", "02.x", "02.06", kDsp, false}), CaseName);

INSTANTIATE_TEST_SUITE_P(Positions, VersionGateTest, ::testing::Values(
    GateCase{"PanelIgnoresDspVersion", "99.99-11-07", "12", kPanel, true},
    GateCase{"MspIgnoresDspVersion", "99.99-11-07", "08", kMsp, true},
    GateCase{"MspIgnoresPanelVersion", "02.05-99-07", "08", kMsp, true},
    GateCase{"DspIgnoresPanelAndMsp", "02.05-99-99", "02.06", kDsp, true},
    GateCase{"FirstDifferingPairDecides", "02.05-11-07", "01.99", kDsp, false},
    GateCase{"LaterPairDecidesWhenEarlierEqual", "02.05-11-07", "02.10", kDsp, true}), CaseName);

INSTANTIATE_TEST_SUITE_P(NoProcessor, VersionGateTest, ::testing::Values(
    GateCase{"Kind3Older", kField, "00.00", 3, true},
    GateCase{"Kind255Equal", kField, "02.05", 255, true}), CaseName);

// Characters compare as signed bytes: 0x80 and above are lower than any digit.
INSTANTIATE_TEST_SUITE_P(Signed, VersionGateTest, ::testing::Values(
    GateCase{"HighImageCharacterIsOlder", kField, "\xB0" "2.05", kDsp, false},
    GateCase{"HighInstrumentCharacterIsOlder", "\xB0" "2.05-11-07", "02.05", kDsp, true}), CaseName);

// A field shorter than the positions read: what it lacks reads as zero bytes,
// lower than any digit, so the image is admitted.
INSTANTIATE_TEST_SUITE_P(ShortField, VersionGateTest, ::testing::Values(
    GateCase{"EmptyFieldDsp", "", "02.05", kDsp, true},
    GateCase{"DspVersionCut", "02.0", "02.00", kDsp, true},
    GateCase{"FiveCharactersPanel", "02.05", "11", kPanel, true},
    GateCase{"FiveCharactersMsp", "02.05", "07", kMsp, true},
    GateCase{"PanelSecondCharacterMissing", "02.05-1", "11", kPanel, true},
    GateCase{"MspSecondCharacterMissing", "02.05-11-0", "07", kMsp, true},
    GateCase{"PanelFirstCharacterHigher", "02.05-2", "11", kPanel, false},
    // A missing image character is zero too: both sides equal, refused.
    GateCase{"MissingOnBothSides", "02.05-1", "1", kPanel, false}), CaseName);
// clang-format on

}  // namespace
}  // namespace meterload

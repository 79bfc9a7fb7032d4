// Whether the instrument, after the power cycle, reports the version the
// image carried: the gate's positions compared as equal text.
#include "firmware/version_gate.h"

#include "tests/support/package_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace meterload {
namespace {

constexpr std::uint8_t kDsp = 0;
constexpr std::uint8_t kPanel = 1;
constexpr std::uint8_t kMsp = 2;

struct CheckCase {
    const char* name;
    std::string field;    // what the instrument reports after the power cycle
    std::string version;  // the image's, up to 5 characters
    std::uint8_t targetKind;
    VersionCheck check;
    std::string reported;  // the instrument's characters that took part
};

void PrintTo(const CheckCase& c, std::ostream* out)
{
    *out << c.name;
}

class InstalledVersionTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(InstalledVersionTest, Compares)
{
    const CheckCase& c = GetParam();
    testing::ImageSpec spec;
    spec.version = c.version;
    spec.targetKind = c.targetKind;
    const auto stored = testing::ImageHeaderBytes(spec);
    const ImageHeader header = DecodeImageHeader(stored.data(), stored.size());
    const std::string where =
        "field \"" + c.field + "\", image \"" + c.version + "\", target kind " + std::to_string(int{c.targetKind});
    EXPECT_EQ(CheckInstalledVersion(c.field, header), c.check) << where;
    EXPECT_EQ(ComparedInstrumentVersion(c.field, header), c.reported) << where;
}

std::string CaseName(const ::testing::TestParamInfo<CheckCase>& info)
{
    return info.param.name;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Processors, InstalledVersionTest, ::testing::Values(
    CheckCase{"DspVerified", "02.06-11-07\n", "02.06", kDsp, VersionCheck::Verified, "02.06"},
    CheckCase{"DspOldVersion", "02.05-11-07\n", "02.06", kDsp, VersionCheck::NotVerified, "02.05"},
    CheckCase{"DspNewerThanSent", "02.07-11-07", "02.06", kDsp, VersionCheck::NotVerified, "02.07"},
    CheckCase{"DspIgnoresPanelAndMsp", "02.06-99-99", "02.06", kDsp, VersionCheck::Verified, "02.06"},
    CheckCase{"PanelVerified", "02.05-12-07", "12", kPanel, VersionCheck::Verified, "12"},
    CheckCase{"PanelOnlyFirstTwoImageCharacters", "02.05-12-07", "12.99", kPanel, VersionCheck::Verified, "12"},
    CheckCase{"PanelOldVersion", "02.05-11-07", "12", kPanel, VersionCheck::NotVerified, "11"},
    CheckCase{"PanelIgnoresDsp", "99.99-12-07", "12", kPanel, VersionCheck::Verified, "12"},
    CheckCase{"MspVerified", "02.05-11-08", "08", kMsp, VersionCheck::Verified, "08"},
    CheckCase{"MspOldVersion", "02.05-11-07", "08", kMsp, VersionCheck::NotVerified, "07"},
    CheckCase{"MspIgnoresPanel", "02.05-08-08\n", "08", kMsp, VersionCheck::Verified, "08"}), CaseName);

INSTANTIATE_TEST_SUITE_P(Unusual, InstalledVersionTest, ::testing::Values(
    // Not the gate: the wildcard is a version like any other here.
    CheckCase{"WildcardIsNotTheVersionSent", "02.xx-11-07", "02.06", kDsp, VersionCheck::NotVerified, "02.xx"},
    CheckCase{"WildcardSentAndReported", "02.xx-11-07", "02.xx", kDsp, VersionCheck::Verified, "02.xx"},
    CheckCase{"UpdateModeAnswer", "WDL\n", "02.06", kDsp, VersionCheck::NotVerified, "WDL\n"},
    // A missing position is not a match, even against a version cut short.
    CheckCase{"FieldTooShortForMsp", "02.05-11-0", "0", kMsp, VersionCheck::NotVerified, "0"},
    CheckCase{"FieldTooShortForDsp", "02", "02", kDsp, VersionCheck::NotVerified, "02"},
    CheckCase{"EmptyField", "", "02.06", kDsp, VersionCheck::NotVerified, ""},
    CheckCase{"CaseMatters", "02.0A-11-07", "02.0a", kDsp, VersionCheck::NotVerified, "02.0A"}), CaseName);

INSTANTIATE_TEST_SUITE_P(NoProcessor, InstalledVersionTest, ::testing::Values(
    CheckCase{"TargetKind3", "02.06-11-07", "02.06", 3, VersionCheck::NotChecked, ""},
    CheckCase{"TargetKind255", "02.06-11-07", "02.06", 255, VersionCheck::NotChecked, ""},
    CheckCase{"EvenWithoutAnAnswer", "", "02.06", 7, VersionCheck::NotChecked, ""}), CaseName);
// clang-format on

TEST(ComparedImageVersion, IsWhatTakesPartAndEndsAtAZeroByte)
{
    const auto header = [](std::string version, std::uint8_t kind) {
        testing::ImageSpec spec;
        spec.version = std::move(version);
        spec.targetKind = kind;
        const auto stored = testing::ImageHeaderBytes(spec);
        return DecodeImageHeader(stored.data(), stored.size());
    };
    EXPECT_EQ(ComparedImageVersion(header("02.06", kDsp)), "02.06");
    EXPECT_EQ(ComparedImageVersion(header("12.99", kPanel)), "12");
    EXPECT_EQ(ComparedImageVersion(header("08", kMsp)), "08");
    EXPECT_EQ(ComparedImageVersion(header("02", kDsp)), "02");
    EXPECT_EQ(ComparedImageVersion(header("02.06", 3)), "");
}

}  // namespace
}  // namespace meterload

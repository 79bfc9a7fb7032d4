// Every way a package update ends before update mode: one message box, the
// instrument left in its normal mode with nothing sent after "L0\n" and
// "*idn?\n", and the connection closed.
#include "tests/package/package_fixture.h"

#include "firmware/package_validation.h"

#include <filesystem>
#include <functional>
#include <ostream>

namespace meterload::testing {
namespace {

constexpr const char* kIdentityText =
    "Firmware update was not successful.\nPlease be sure you selected the correct firmware file "
    "in the installation process.";
constexpr const char* kDspText =
    "Firmware Update Not Possible (DSP).\nBinary file version is older than instrument version.";
constexpr const char* kPanelText =
    "Firmware Update Not Possible (Panel).\nBinary file version is older than instrument version.";
constexpr const char* kMsp430Text =
    "Firmware Update Not Possible (MSP 430).\nBinary file version is older than instrument version.";
constexpr const char* kIncorrectModeText =
    "Incorrect mode.\nPlease recycle power on instrument and click \"Select\" to try again.";

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param)
{
    return param.param.name;
}

Bytes LeadWithIdentity(const std::string& identity, bool inverted = true)
{
    ImageSpec spec;
    spec.identity = identity;
    spec.inverted = inverted;
    spec.bodySize = 100;
    return ImageBytes(spec);
}

struct RefusalCase {
    const char* name;
    StopReason reason;
    std::string config;
    std::string handOver;
    Bytes lead;  // empty: no package file at all
    std::function<void(ExpectedTimeline&)> expect;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& refusal)
{
    return out << refusal.name;
}

class PackageRefusalTest : public PackageUpdateTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PackageRefusalTest, OneBoxAndTheInstrumentStaysInNormalMode)
{
    const RefusalCase& refusal = GetParam();
    Configure(refusal.config);
    if (!refusal.lead.empty()) {
        WritePackage(refusal.lead, {PlainImage(300, 2)});
    }

    EXPECT_EQ(Install(refusal.handOver), RefusedBeforeUpdateMode(refusal.reason));

    ExpectedTimeline expected;
    refusal.expect(expected);
    EXPECT_EQ(Actual(), expected.Text());
    EXPECT_TRUE(sim_.Events("mode").empty()) << sim_.TranscriptText();
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, PackageRefusalTest,
    ::testing::Values(
        RefusalCase{"NoInstrument", StopReason::NotFound, "serials=\n", kHandOver, LeadImage(100),
                    [](ExpectedTimeline& e) { e.Box("ZQ6140 device not found.", "MeterLoad"); }},
        RefusalCase{"NoAtSign", StopReason::SerialMissing, "serials=ABC123\n", "C:\\fw\\ABC123", LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("DMM device serial no miss.", "MeterLoad"); }},
        RefusalCase{"SerialDiffers", StopReason::AnotherInstrument, "serials=ABC123\n", "C:\\fw\\@ABC124",
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"SerialCaseDiffers", StopReason::AnotherInstrument, "serials=ABC123\n", "C:\\fw\\@abc123",
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"EmptySerial", StopReason::AnotherInstrument, "serials=ABC123\n", "C:\\fw\\@", LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"SecondAtSignKeptInSerial", StopReason::AnotherInstrument, "serials=ABC123\n", "C:\\fw\\@X@ABC123",
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        // "@" in the folder does not count: none follows it here.
        RefusalCase{"AtSignOnlyInTheFolder", StopReason::SerialMissing, "serials=ABC123\n", "C:\\fw@lab\\ABC123",
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("DMM device serial no miss.", "MeterLoad"); }},
        RefusalCase{"AtSignOnlyInForwardSlashFolder", StopReason::SerialMissing, "serials=ABC123\n",
                    "/srv/fw@lab/ABC123", LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("DMM device serial no miss.", "MeterLoad"); }},
        RefusalCase{"EmptySerialAfterAtSignFolder", StopReason::AnotherInstrument, "serials=ABC123\n", "C:\\fw@lab\\@",
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"SecondAtSignAfterAtSignFolder", StopReason::AnotherInstrument, "serials=ABC123\n",
                    "C:\\fw@lab\\@X@ABC123", LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"OtherInstrumentReachedFirst", StopReason::AnotherInstrument, "serials=DEF456,ABC123\n", kHandOver,
                    LeadImage(100),
                    [](ExpectedTimeline& e) { e.Local().Box("The firmware update device missed.", "MeterLoad"); }},
        RefusalCase{"PackageCannotBeOpened",
                    StopReason::FileUnreadable,
                    "serials=ABC123\n",
                    kHandOver,
                    {},
                    [](ExpectedTimeline& e) { e.Local().Box("The first bin file not found.", "MeterLoad firmware"); }},
        RefusalCase{"NoCommaInIdentification", StopReason::WrongMode,
                    "serials=ABC123\nidn=KORVALEN ZQ6140 ABC123 02.05\\n\n", kHandOver, LeadImage(100),
                    [](ExpectedTimeline& e) {
                        e.Local().Identify("KORVALEN ZQ6140 ABC123 02.05\n").Box(kIncorrectModeText, "MeterLoad");
                    }},
        RefusalCase{"IdentityDiffers", StopReason::NotZq6140Image, "serials=ABC123\n", kHandOver,
                    LeadWithIdentity("KORVALEN ZQ6141"),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kIdentityText, "MeterLoad"); }},
        RefusalCase{"IdentityInLowerCase", StopReason::NotZq6140Image, "serials=ABC123\n", kHandOver,
                    LeadWithIdentity("korvalen zq6140"),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kIdentityText, "MeterLoad"); }},
        RefusalCase{"HeaderNotInverted", StopReason::NotZq6140Image, "serials=ABC123\n", kHandOver,
                    LeadWithIdentity("KORVALEN ZQ6140", false),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kIdentityText, "MeterLoad"); }},
        RefusalCase{"DspEqual", StopReason::VersionGate, "serials=ABC123\n", kHandOver, LeadImage(100, "02.05", 0),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kDspText, "MeterLoad"); }},
        RefusalCase{"PanelEqual", StopReason::VersionGate, "serials=ABC123\n", kHandOver, LeadImage(100, "11.99", 1),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kPanelText, "MeterLoad"); }},
        RefusalCase{"Msp430Older", StopReason::VersionGate, "serials=ABC123\n", kHandOver, LeadImage(100, "06.99", 2),
                    [](ExpectedTimeline& e) { e.Local().Identify(kIdnReply).Box(kMsp430Text, "MeterLoad"); }},
        RefusalCase{
            "UpperCaseXDoesNotExempt", StopReason::VersionGate, "serials=ABC123\nversions=02.XX-11-07\n", kHandOver,
            LeadImage(100, "01.00", 0),
            [](ExpectedTimeline&
                   e) { e.Local().Identify("KORVALEN,ZQ6140,ABC123,02.XX-11-07\n").Box(kDspText, "MeterLoad"); }},
        // No wrong-mode test here: the gate decides on "WDL".
        RefusalCase{"InstrumentAlreadyInUpdateMode", StopReason::VersionGate, "serials=ABC123\nmode=update\n",
                    kHandOver, LeadImage(100, "02.06", 0),
                    [](ExpectedTimeline&
                           e) { e.Local().Identify("KORVALEN,ZQ6140,ABC123,WDL\n").Box(kDspText, "MeterLoad"); }}),
    CaseName<RefusalCase>);

struct DamageCase {
    const char* name;
    std::function<PackageBuilder()> build;
};

std::ostream& operator<<(std::ostream& out, const DamageCase& damage)
{
    return out << damage.name;
}

class DamagedPackageTest : public PackageUpdateTest, public ::testing::WithParamInterface<DamageCase> {};

// A damaged package is refused after the identification, before its header
// is judged: nothing of it reaches the instrument.
TEST_P(DamagedPackageTest, IsRefusedBeforeUpdateMode)
{
    Configure("serials=ABC123\n");
    GetParam().build().WriteTo(PackagePath());
    const auto reason = ValidatePackage(PackagePath());
    ASSERT_TRUE(reason.has_value()) << "the package should count as damaged";
    EXPECT_EQ(reason->rfind("The update package is damaged and cannot be installed.\n", 0), 0u) << *reason;

    EXPECT_EQ(Install(), RefusedBeforeUpdateMode(StopReason::PackageDamaged));

    ExpectedTimeline expected;
    expected.Local().Identify(kIdnReply).Box(*reason, "MeterLoad");
    EXPECT_EQ(Actual(), expected.Text());
    EXPECT_TRUE(sim_.Events("mode").empty()) << sim_.TranscriptText();
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedPackageTest,
    ::testing::Values(
        DamageCase{"NoEntries", [] { return PackageBuilder().EntryCount(0); }},
        DamageCase{"NegativeEntryCount", [] { return PackageBuilder().Image(LeadImage(100)).EntryCount(-1); }},
        DamageCase{"ShorterThanItsHeader", [] { return PackageBuilder().Image(LeadImage(100)).TruncateTo(100); }},
        DamageCase{"TableRunsPastTheEnd", [] { return PackageBuilder().Image(LeadImage(100)).EntryCount(5); }},
        DamageCase{"LeadRunsPastTheEnd",
                   [] {
                       PackageBuilder builder;
                       builder.Image(LeadImage(400));
                       return builder.TruncateTo(builder.TableEnd() + 300);
                   }},
        DamageCase{"OtherEntryRunsPastTheEnd",
                   [] { return PackageBuilder().Image(LeadImage(100)).Entry(1036, 1000000); }},
        DamageCase{"LeadShorterThanItsHeader", [] { return PackageBuilder().Entry(1036, 49).Tail(LeadImage(100)); }},
        DamageCase{"NegativeOffset",
                   [] { return PackageBuilder().Image(LeadImage(100)).Image(PlainImage(10, 2)).Entry(-1, 10); }},
        DamageCase{"NegativeSize",
                   [] { return PackageBuilder().Image(LeadImage(100)).Entry(1556, -5).Tail(Bytes(10)); }}),
    CaseName<DamageCase>);

}  // namespace
}  // namespace meterload::testing

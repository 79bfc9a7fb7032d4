// When the connection is let go: on every way out of a package update the VISA
// library is unloaded, and for the boxed refusals the box comes first, except
// for a missing comma, where the connection goes before the box. Here the
// simulator is a private copy that nothing else holds, so the transcript shows
// each load and unload.
#include "tests/package/package_fixture.h"

#include "update/hand_over.h"
#include "update/package_update.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>

namespace meterload::testing {
namespace {

namespace fs = std::filesystem;

void SetEnvironment(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void ClearEnvironment(const char* name)
{
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct LifetimeCase {
    const char* name;
    std::string config;
    std::string handOver;
    Bytes lead;  // empty: no package file at all
    ProcedureResult result;
    std::function<void(ExpectedTimeline&)> expect;  // null: the update ran on
};

std::ostream& operator<<(std::ostream& out, const LifetimeCase& lifetime)
{
    return out << lifetime.name;
}

class ConnectionLifetimeTest : public ::testing::TestWithParam<LifetimeCase> {
protected:
    void SetUp() override
    {
        // Shares the private directory scheme of the held simulator.
        directory_ = fs::path(holder_.Directory());
        const fs::path original(SimLibraryPath());
        library_ = directory_ / (original.stem().string() + "_unheld" + original.extension().string());
        fs::copy_file(original, library_, fs::copy_options::overwrite_existing);
        transcript_ = directory_ / "unheld-transcript.txt";
        const fs::path config = directory_ / "unheld-config.txt";
        std::ofstream(config) << GetParam().config << "state=" << (directory_ / "unheld-state.txt").string()
                              << "\ntranscript=" << transcript_.string() << "\n";
        SetEnvironment("ZQSIM_CONFIG", config.string());
    }

    void TearDown() override { ClearEnvironment("ZQSIM_CONFIG"); }

    SimInstrument holder_;  // only for its private directory; its library is another file
    fs::path directory_;
    fs::path library_;
    fs::path transcript_;
};

TEST_P(ConnectionLifetimeTest, LibraryIsUnloadedOnEveryWayOut)
{
    const LifetimeCase& lifetime = GetParam();
    const std::string package = (directory_ / "update.pak").string();
    if (!lifetime.lead.empty()) {
        PackageBuilder().Image(lifetime.lead).Image(PlainImage(100, 2)).WriteTo(package);
    }

    Timeline timeline([this] { return ReadWhole(transcript_); });
    VirtualClock virtualClock;
    TimelineClock clock(virtualClock, timeline);
    RecordingDialog recorder;
    TimelineDialog dialog(recorder, timeline);
    UpdateContext context{dialog, clock, library_.string()};

    EXPECT_EQ(InstallPackage(context, package, SerialFromHandOver(lifetime.handOver)), lifetime.result);

    const std::vector<std::string> lines = timeline.Lines();
    if (lifetime.expect) {
        ExpectedTimeline expected;
        expected.Line("load");
        lifetime.expect(expected);
        EXPECT_EQ(timeline.Text(), expected.Text());
        return;
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "load");
    EXPECT_EQ(lines.back(), "unload") << timeline.Text();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "load"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "unload"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, ConnectionLifetimeTest,
    ::testing::Values(
        LifetimeCase{"NoAtSign", "serials=ABC123\n", "C:\\fw\\ABC123", LeadImage(100),
                     RefusedBeforeUpdateMode(StopReason::SerialMissing),
                     [](ExpectedTimeline& e) {
                         e.Local().Box("DMM device serial no miss.", "MeterLoad").Line("unload");
                     }},
        LifetimeCase{"SerialDiffers", "serials=ABC123\n", "C:\\fw\\@DEF456", LeadImage(100),
                     RefusedBeforeUpdateMode(StopReason::AnotherInstrument),
                     [](ExpectedTimeline& e) {
                         e.Local().Box("The firmware update device missed.", "MeterLoad").Line("unload");
                     }},
        LifetimeCase{"NoCommaClosesBeforeTheBox", "serials=ABC123\nidn=no comma\\n\n", kHandOver, LeadImage(100),
                     RefusedBeforeUpdateMode(StopReason::WrongMode),
                     [](ExpectedTimeline& e) {
                         e.Local()
                             .Identify("no comma\n")
                             .Line("unload")
                             .Box("Incorrect mode.\nPlease recycle power on instrument and click \"Select\" to try "
                                  "again.",
                                  "MeterLoad");
                     }},
        LifetimeCase{"PackageCannotBeOpened",
                     "serials=ABC123\n",
                     kHandOver,
                     {},
                     RefusedBeforeUpdateMode(StopReason::FileUnreadable),
                     [](ExpectedTimeline& e) {
                         e.Local().Box("The first bin file not found.", "MeterLoad firmware").Line("unload");
                     }},
        // Entry 1 shorter than its image header.
        LifetimeCase{"DamagedPackage", "serials=ABC123\n", kHandOver, PlainImage(40, 1),
                     RefusedBeforeUpdateMode(StopReason::PackageDamaged),
                     [](ExpectedTimeline& e) {
                         e.Local()
                             .Identify(kIdnReply)
                             .Box("The update package is damaged and cannot be installed.\nEntry 1 is 40 bytes "
                                  "long, too short for its 50-byte image header.",
                                  "MeterLoad")
                             .Line("unload");
                     }},
        LifetimeCase{"IdentityDiffers", "serials=ABC123\n", kHandOver, PlainImage(100, 1),
                     RefusedBeforeUpdateMode(StopReason::NotZq6140Image),
                     [](ExpectedTimeline& e) {
                         e.Local()
                             .Identify(kIdnReply)
                             .Box("Firmware update was not successful.\nPlease be sure you selected the correct "
                                  "firmware file in the installation process.",
                                  "MeterLoad")
                             .Line("unload");
                     }},
        LifetimeCase{"GateRefuses", "serials=ABC123\n", kHandOver, LeadImage(100, "02.05"),
                     RefusedBeforeUpdateMode(StopReason::VersionGate),
                     [](ExpectedTimeline& e) {
                         e.Local()
                             .Identify(kIdnReply)
                             .Box("Firmware Update Not Possible (DSP).\nBinary file version is older than "
                                  "instrument version.",
                                  "MeterLoad")
                             .Line("unload");
                     }},
        LifetimeCase{"RefusedAfterEntry2", "serials=ABC123\nreplies=3\n", kHandOver, LeadImage(100),
                     StoppedInUpdateMode(StopReason::ReplyRefused), nullptr},
        LifetimeCase{"RefusedAfterEntry1", "serials=ABC123\nreplies=0,0,4\n", kHandOver, LeadImage(100),
                     StoppedInUpdateMode(StopReason::ReplyRefused), nullptr},
        LifetimeCase{"Installed", "serials=ABC123\n", kHandOver, LeadImage(100), kInstalled, nullptr}),
    [](const ::testing::TestParamInfo<LifetimeCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing

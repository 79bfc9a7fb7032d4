// Every way meterload-cli stops short of update mode, as a table: the exit
// code, the message, and that the instrument never left its normal mode.
#include "tests/cli/cli_fixture.h"

#include "tests/support/sim_instrument.h"

namespace meterload::testing {
namespace {

constexpr const char* kOne = "serials=ABC123\n";
constexpr const char* kTwo = "serials=ABC123,DEF456\nenumerate=both\n";

struct Case {
    const char* name;
    const char* config;
    std::vector<std::string> args;
    int code;
    const char* message;  // on standard error
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class CliCase : public CliTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CliCase, StopsBeforeUpdateModeWithItsCode)
{
    const Case& c = GetParam();
    WriteFirmwareFiles();
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
        if (arg == "{incomplete}") {
            arg = SimVariantPath("viRead");
        } else if (arg == "{missing}") {
            arg = SimLibraryPath() + ".missing";
        }
    }
    const CliRun run = Run(args, c.config);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_THAT(run.err, ::testing::HasSubstr(c.message));
    const auto writes = Writes();
    EXPECT_EQ(std::count(writes.begin(), writes.end(), kSystemUpdateBytes), 0);
    EXPECT_FALSE(EnteredUpdateMode());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, CliCase,
    ::testing::Values(
        Case{"ListFindsNone", "serials=\n", {"list"}, 3, "ZQ6140 device not found."},
        Case{"IdentifyRefusesToGuess", kTwo, {"identify"}, 3, "Several ZQ6140 are attached: ABC123, DEF456."},
        Case{"IdentifyAbsentSerial",
             kTwo,
             {"identify", "--serial", "abc123"},
             3,
             "none has the serial number abc123 (attached: ABC123, DEF456)"},
        Case{"IdentifyWrongMode", "serials=ABC123\nmode=update\n", {"identify"}, 5, "Incorrect mode."},
        Case{"IdentifyReplyWithoutVersions",
             "serials=ABC123\nidn=KORVALEN ZQ6140\\n\n",
             {"identify"},
             5,
             "Incorrect mode."},
        Case{"LibraryMissing", kOne, {"list", "--visa-library", "{missing}"}, 6, "cannot be loaded"},
        Case{"LibraryIncomplete", kOne, {"list", "--visa-library", "{incomplete}"}, 6, "lacks viRead"},
        Case{"NoResourceManager", "no_rm=1\n", {"identify"}, 6, "resource manager did not open"},
        Case{"InstallDamagedPackage",
             kOne,
             {"install", "{cut.pak}", "--yes"},
             4,
             "The update package is damaged and cannot be installed."},
        Case{"InstallForeignImage",
             kOne,
             {"install", "{foreign.bin}", "--yes"},
             4,
             "Please be sure you selected the correct firmware file"},
        Case{"InstallOlderImage",
             kOne,
             {"install", "{old.bin}", "--yes"},
             4,
             "Firmware Update Not Possible (DSP). Binary file version is older than instrument version."},
        Case{"InstallOlderPackage", kOne, {"install", "{old.pak}", "--yes"}, 4, "Firmware Update Not Possible (DSP)."},
        Case{"InstallUnreadableFile", kOne, {"install", "{absent.bin}", "--yes"}, 4, "Couldn't open source file."},
        Case{"InstallNeedsYesWithoutTerminal", kOne, {"install", "{main.bin}"}, 2, "--yes"},
        Case{"InstallRefusesToGuess", kTwo, {"install", "{main.bin}", "--yes"}, 3, "Several ZQ6140"},
        Case{"InstallWrongMode",
             "serials=ABC123\nmode=update\n",
             {"install", "{fw.pak}", "--yes"},
             5,
             "Incorrect mode."},
        Case{"InstallDryRunImage",
             kTwo,
             {"install", "{main.bin}", "--serial", "DEF456", "--dry-run"},
             0,
             "Dry run: every check passed."},
        Case{"InstallDryRunPackage", kOne, {"install", "{fw.pak}", "--dry-run"}, 0, "Dry run: every check passed."},
        Case{"InspectDamagedNeedsNoInstrument",
             kOne,
             {"inspect", "{cut.pak}", "--visa-library", "{missing}"},
             4,
             "Its table of 2 entries runs past the end of the file (1500 bytes)."},
        Case{"InspectGateRefuses",
             kOne,
             {"inspect", "{old.bin}", "--firmware-version", "02.05-11-07"},
             4,
             "Firmware Update Not Possible (DSP)."},
        Case{"InspectGateBySerial",
             kTwo,
             {"inspect", "{old.bin}", "--serial", "DEF456"},
             4,
             "Firmware Update Not Possible (DSP)."},
        Case{"InspectFieldOrSerial",
             kOne,
             {"inspect", "{main.bin}", "--firmware-version", "02.05-11-07", "--serial", "ABC123"},
             2,
             "excludes"},
        Case{"UnknownCommand", kOne, {"flash"}, 2, "A subcommand is required"},
        Case{"PackKeepsAnExistingFile", kOne, {"pack", "{fw.pak}", "{main.bin}"}, 4, "already exists"},
        Case{"PackWantsAZq6140ImageFirst",
             kOne,
             {"pack", "{new.pak}", "{panel.bin}", "{main.bin}"},
             4,
             "Entry 1 must be a ZQ6140 image."}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(CliTest, ADryRunChecksAgainstTheInstrumentItself)
{
    WriteFirmwareFiles();
    const CliRun run = Run({"install", "{fw.pak}", "--serial", "DEF456", "--dry-run"}, kTwo);
    ASSERT_EQ(run.code, 0) << run.err;
    // The package update's own identification ran, on the chosen instrument.
    const auto writes = Writes();
    EXPECT_EQ(std::count(writes.begin(), writes.end(), BytesOf("*idn?\n")), 2);
    for (const WireEvent& event : Transcript()) {
        if (event.name == "viOpen") {
            EXPECT_THAT(event.Field("name"), ::testing::HasSubstr("::DEF456::"));
        }
    }
    EXPECT_THAT(run.err, ::testing::HasSubstr("Transfer:    1481 bytes, about 7.2 s in update mode"));
}

// The versions field comes with the instrument's line end; a person sees
// the versions, not an escaped line end.
TEST_F(CliTest, IdentifyShowsTheVersionsWithoutTheirLineEnd)
{
    const CliRun run = Run({"identify"}, kOne);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.out, ::testing::HasSubstr("Firmware versions: 02.05-11-07\n"));
    EXPECT_THAT(run.out, ::testing::Not(::testing::HasSubstr("\\n")));
}

}  // namespace
}  // namespace meterload::testing

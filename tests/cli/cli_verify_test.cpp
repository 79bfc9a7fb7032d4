// Verification by the real program: `verify` asks each instrument and judges
// it against the file without changing anything, and `install --verify` waits
// for each instrument's power cycle (switched by this test, as an operator
// would, in any order) before it asks. The history keeps every verdict.
#include "tests/cli/cli_fixture.h"

#include "tests/support/sim_instrument.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace meterload::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

class CliVerifyTest : public CliTest {
protected:
    CliVerifyTest() { std::filesystem::create_directories(PathOf("switches")); }

    // The simulator's configuration with the power switches of this test.
    std::string Config(const std::string& more) const { return "power_switches=" + PathOf("switches") + "\n" + more; }
    void Switch(const std::string& serial, const char* position) const
    {
        std::ofstream(PathOf("switches") + "/" + serial) << position << "\n";
    }
    // Switches `serial` off once the program asks for it, and on again once
    // the program has seen it leave.
    void PowerCycle(BackgroundRun& run, const std::string& serial, const std::string& label) const
    {
        ASSERT_TRUE(run.WaitForError(label + "Switch the ZQ6140 off and on now")) << run.Error();
        Switch(serial, "off");
        ASSERT_TRUE(run.WaitForError(label + "It has left the bus")) << run.Error();
        Switch(serial, "on");
    }
    json History() const
    {
        const CliRun run = Run({"history", "--json"}, Config("serials=ABC123\n"));
        EXPECT_EQ(run.code, 0) << run.err;
        return json::parse(run.out).at("records");
    }
    // An image for the processor `targetKind` carrying `version`.
    void WriteImage(const std::string& name, const std::string& version, std::uint8_t targetKind) const
    {
        ImageSpec spec;
        spec.version = version;
        spec.targetKind = targetKind;
        spec.bodySize = 300;
        Write(name, ImageBytes(spec));
    }
};

struct VerifyCase {
    const char* name;
    const char* file;
    std::string config;  // of the one instrument ABC123
    int code;
    const char* result;
    const char* detail;
};

TEST_F(CliVerifyTest, VerifyJudgesTheFilesVersionAgainstWhatTheInstrumentReports)
{
    WriteFirmwareFiles();  // main.bin: DSP 02.06; fw.pak: entry 1 is main.bin; old.pak: entry 1 DSP 02.05
    WriteImage("panel12.bin", "12", 1);
    WriteImage("msp08.bin", "08", 2);
    WriteImage("none.bin", "02.06", 3);
    const VerifyCase cases[] = {
        {"dsp verified", "main.bin", "versions=02.06-11-07", 0, "verified", "reports DSP 02.06"},
        {"dsp old version", "main.bin", "versions=02.05-11-07", 7, "not verified", "reports DSP 02.05, not 02.06"},
        {"panel verified", "panel12.bin", "versions=02.05-12-07", 0, "verified", "reports Panel 12"},
        {"msp old version", "msp08.bin", "versions=02.05-11-07", 7, "not verified", "reports MSP 430 07, not 08"},
        {"no processor", "none.bin", "versions=02.06-11-07", 0, "not checked",
         "was not compared: the image names no processor"},
        {"package: entry 1", "fw.pak", "versions=02.06-11-07", 0, "verified", "reports DSP 02.06"},
        {"package: entry 1 older", "old.pak", "versions=02.06-11-07", 7, "not verified",
         "reports DSP 02.06, not 02.05"},
        {"wrong mode", "main.bin", "versions=02.06-11-07\nmode=update", 7, "not verified",
         "is in the wrong mode (it answers as in update mode)"},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(PathOf("transcript.txt"));
        const CliRun run =
            Run({"verify", "{" + std::string(c.file) + "}", "--json"}, Config("serials=ABC123\n" + c.config));
        EXPECT_EQ(run.code, c.code) << run.err;
        const json doc = json::parse(run.out);
        ASSERT_EQ(doc["instruments"].size(), 1u) << run.out;
        EXPECT_EQ(doc["instruments"][0]["result"], c.result);
        EXPECT_EQ(doc["instruments"][0]["detail"], c.detail);
        EXPECT_EQ(doc["instruments"][0]["exit_code"], c.code);
        // Only the identification went out.
        for (const Bytes& write : Writes()) {
            EXPECT_TRUE(write == BytesOf("L0\n") || write == BytesOf("*idn?\n"))
                << "sent " << std::string(write.begin(), write.end());
        }
        EXPECT_FALSE(EnteredUpdateMode());
    }
}

TEST_F(CliVerifyTest, VerifyOnSeveralInstrumentsKeepsTheTableOrderAndRecordsEachVerdict)
{
    WriteFirmwareFiles();
    const std::string config =
        Config("serials=AAA111,BBB222,CCC333\nversions=02.06-11-07\nBBB222.versions=02.05-11-07\n");
    const CliRun run = Run({"verify", "{main.bin}", "--all"}, config);
    EXPECT_EQ(run.code, 7) << run.err;
    EXPECT_THAT(run.out, HasSubstr("AAA111      02.06-11-07   verified\n"));
    EXPECT_THAT(run.out, HasSubstr("BBB222      02.05-11-07   not verified (reports DSP 02.05, not 02.06)\n"));
    EXPECT_THAT(run.out, HasSubstr("CCC333      02.06-11-07   verified\n"));
    EXPECT_THAT(run.err, HasSubstr("Not verified: BBB222: the ZQ6140 reports DSP 02.05, not 02.06."));

    const CliRun absent = Run({"verify", "{main.bin}", "--serial", "ZZZ999", "--serial", "AAA111"}, config);
    EXPECT_EQ(absent.code, 3) << absent.err;
    EXPECT_THAT(absent.out, HasSubstr("ZZZ999      -             not found (was not found)"));

    // Three verdicts of the first run, one of the second, none for the absent
    // one; history shows only AAA111's newest.
    const json records = History();
    ASSERT_EQ(records.size(), 3u) << records.dump(1);
    for (const json& record : records) {
        EXPECT_EQ(record["record"], "verification");
        EXPECT_EQ(record["file"], "main.bin");
        EXPECT_EQ(record["sha256"].get<std::string>().size(), 64u);
    }
}

// Runs `install FILE --verify` in the background with `args` after it.
class CliInstallVerifyTest : public CliVerifyTest {
protected:
    std::unique_ptr<BackgroundRun> Start(const std::vector<std::string>& args, const std::string& config) const
    {
        return std::make_unique<BackgroundRun>(Command(args), Env(Config(config)));
    }
};

TEST_F(CliInstallVerifyTest, SeveralInstrumentsPowerCycledInAnotherOrderEachGetTheirVerdict)
{
    WriteFirmwareFiles();
    const std::string config = "serials=AAA111,BBB222,CCC333,DDD444\n"
                               "received_versions=02.06-11-07\n"
                               "BBB222.received_versions=off\n"  // rejected the image while it wrote its flash
                               "CCC333.received_mode=update\n";  // came back in its loader
    auto run = Start({"install", "{main.bin}", "--all", "--yes", "--verify", "--verify-timeout", "25"}, config);
    // The operator goes along the rack in an order of their own; DDD444 is forgotten.
    PowerCycle(*run, "CCC333", "CCC333: ");
    PowerCycle(*run, "AAA111", "AAA111: ");
    PowerCycle(*run, "BBB222", "BBB222: ");
    const CliRun end = run->Wait();

    // The first instrument in the table that is not verified decides.
    EXPECT_EQ(end.code, 7) << end.err;
    EXPECT_THAT(end.out, HasSubstr("SERIAL      BEFORE        RESULT                VERIFIED"));
    EXPECT_THAT(end.out, HasSubstr("AAA111      02.05-11-07   installed             verified  "));
    EXPECT_THAT(end.out, HasSubstr("BBB222      02.05-11-07   installed (exit 7)    not verified (reports DSP 02.05, "
                                   "not 02.06)"));
    EXPECT_THAT(end.out, HasSubstr("CCC333      02.05-11-07   installed (exit 7)    not verified (is in the wrong "
                                   "mode (it answers as in update mode))"));
    EXPECT_THAT(end.out, HasSubstr("DDD444      02.05-11-07   installed (exit 7)    not verified (did not leave and "
                                   "come back within 25 s)"));
    EXPECT_THAT(end.out, HasSubstr("1 of 4 done. First failure: BBB222, installed (exit 7)."));
    EXPECT_THAT(end.err, HasSubstr("AAA111: Verified: the ZQ6140 reports DSP 02.06."));

    // Each install is shown with its own verdict.
    std::map<std::string, std::string> verdicts;
    for (const json& record : History()) {
        ASSERT_FALSE(record.contains("record")) << "a verification left without its install: " << record.dump();
        EXPECT_EQ(record["result"], "done");
        verdicts[record["serial"]] = record["verification"]["result"];
    }
    const std::map<std::string, std::string> expected = {{"AAA111", "verified"},
                                                         {"BBB222", "not verified"},
                                                         {"CCC333", "not verified"},
                                                         {"DDD444", "not verified"}};
    EXPECT_EQ(verdicts, expected);
    const CliRun table = Run({"history", "--serial", "DDD444"}, Config("serials=ABC123\n"));
    EXPECT_THAT(table.out, HasSubstr("done     not verified"));
    EXPECT_THAT(table.out, HasSubstr("reported nothing; did not leave and come back within 25 s"));
}

TEST_F(CliInstallVerifyTest, OneInstrument)
{
    WriteFirmwareFiles();
    const std::string config = "serials=ABC123\nreceived_versions=02.06-11-07\n";
    {
        SCOPED_TRACE("a package, verified against its entry 1");
        auto run = Start({"install", "{fw.pak}", "--yes", "--verify", "--verify-timeout", "60", "--json"}, config);
        PowerCycle(*run, "ABC123", "");
        const CliRun end = run->Wait();
        EXPECT_EQ(end.code, 0) << end.err;
        const json doc = json::parse(end.out);
        EXPECT_EQ(doc["result"], "installed");
        EXPECT_EQ(doc["verification"]["result"], "verified");
        EXPECT_EQ(doc["verification"]["firmware_version_field"], "02.06-11-07\n");
        EXPECT_THAT(end.err, HasSubstr("Verified: the ZQ6140 reports DSP 02.06."));
    }
    {
        SCOPED_TRACE("never switched: the wait ends, the install stands, the exit code says not verified");
        std::filesystem::remove(PathOf("sim.state"));
        auto run = Start({"install", "{main.bin}", "--yes", "--verify", "--verify-timeout", "2"}, config);
        const CliRun end = run->Wait();
        EXPECT_EQ(end.code, 7) << end.err;
        EXPECT_THAT(end.err, HasSubstr("Installed, but not verified: the ZQ6140 did not leave and come back "
                                       "within 2 s."));
        const json newest = History().at(0);
        EXPECT_EQ(newest["file"], "main.bin");
        EXPECT_EQ(newest["verification"]["result"], "not verified");
        EXPECT_EQ(newest["verification"]["reason"], "did not leave and come back within 2 s");
    }
    {
        SCOPED_TRACE("Ctrl+C while waiting: the install's own result and exit code");
        std::filesystem::remove(PathOf("sim.state"));
        auto run = Start({"install", "{main.bin}", "--yes", "--verify", "--verify-timeout", "60"}, config);
        ASSERT_TRUE(run->WaitForError("Switch the ZQ6140 off and on now")) << run->Error();
        run->Interrupt();
        const CliRun end = run->Wait();
        EXPECT_EQ(end.code, 0) << end.err;
        // The press ended the wait, not its time limit, and was not taken
        // for one during the transfer.
        EXPECT_THAT(end.err, HasSubstr("Stopped waiting for the power cycle"));
        EXPECT_THAT(end.err, Not(HasSubstr("update mode: it will need a power cycle")));
        EXPECT_THAT(end.err, Not(HasSubstr("did not leave and come back")));
        EXPECT_THAT(end.err, HasSubstr("Stopped: the ZQ6140 was not asked again"));
        EXPECT_FALSE(History().at(0).contains("verification")) << "nothing was verified";
        // The whole image went out before the wait began, and nothing was
        // written to the instrument after it (the transcript holds the runs
        // before too: this run's image is the last).
        const std::vector<WireEvent> own = InstrumentEvents(Transcript(), "ABC123");
        std::size_t image = own.size();
        while (image > 0 && own[image - 1].name != "image") {
            --image;
        }
        ASSERT_GT(image--, 0U) << "the image was not closed";
        std::vector<std::string> writes;  // the EndFrame's own event follows its image
        for (std::size_t i = image + 1; i < own.size(); ++i) {
            if (own[i].name == "viWrite") {
                writes.push_back(own[i].Field("kind"));
            }
        }
        EXPECT_EQ(writes, std::vector<std::string>{"endframe"}) << "asked after the install";
    }
}

}  // namespace
}  // namespace meterload::testing

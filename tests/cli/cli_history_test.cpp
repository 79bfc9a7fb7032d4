// The history as the command line writes and shows it: installs leave their
// records, two processes updating at once lose none, a damaged line is
// skipped with a warning, and a history that cannot be written changes no
// update's outcome.
#include "tests/cli/cli_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <future>
#include <set>

namespace meterload::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

class CliHistoryTest : public CliTest {
protected:
    json Records(const std::vector<std::string>& extra = {}) const
    {
        std::vector<std::string> args{"history", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const CliRun run = Run(args);
        EXPECT_EQ(run.code, 0) << run.err;
        return json::parse(run.out).at("records");
    }
};

TEST_F(CliHistoryTest, InstallsLeaveRecordsThatHistoryShowsNewestFirst)
{
    WriteFirmwareFiles();
    // Refused by the version gate before update mode: still an update tried.
    ASSERT_EQ(Run({"install", "{old.bin}", "--yes"}).code, 4);
    // Dry runs are not updates.
    ASSERT_EQ(Run({"install", "{main.bin}", "--dry-run"}).code, 0);
    ASSERT_EQ(Run({"install", "{main.bin}", "--yes"}).code, 0);

    const json records = Records();
    ASSERT_EQ(records.size(), 2u) << records.dump(1);
    EXPECT_EQ(records[1]["file"], "old.bin");
    EXPECT_EQ(records[1]["result"], "refused");
    EXPECT_EQ(records[1]["reason_key"], "version_gate");
    EXPECT_THAT(records[1]["reason"].get<std::string>(), HasSubstr("version"));
    EXPECT_EQ(records[0]["file"], "main.bin");
    EXPECT_EQ(records[0]["result"], "done");
    EXPECT_EQ(records[0]["reason_key"], "installed");
    EXPECT_EQ(records[0]["serial"], "ABC123");
    EXPECT_EQ(records[0]["firmware_version_field"].get<std::string>().substr(0, 11), "02.05-11-07");
    EXPECT_EQ(records[0]["kind"], "image");
    EXPECT_EQ(records[0]["size"], 1050);
    EXPECT_EQ(records[0]["sha256"].get<std::string>().size(), 64u);
    EXPECT_GT(records[0]["duration_ms"].get<int>(), 4000);

    const CliRun table = Run({"history"});
    EXPECT_EQ(table.code, 0);
    EXPECT_THAT(table.out, HasSubstr("ABC123"));
    EXPECT_LT(table.out.find("main.bin"), table.out.find("old.bin"));

    EXPECT_EQ(Records({"--serial", "ABC123"}).size(), 2u);
    EXPECT_EQ(Records({"--serial", "DEF456"}).size(), 0u);
    EXPECT_EQ(Records({"--since", "2000-01-01"}).size(), 2u);
    EXPECT_EQ(Records({"--since", "2999-01-01"}).size(), 0u);
    EXPECT_EQ(Run({"history", "--since", "yesterday"}).code, 2);
}

TEST_F(CliHistoryTest, TwoProcessesUpdatingAtOnceLoseNoRecord)
{
    WriteFirmwareFiles();
    const auto install = [this](const std::string& serial) {
        Environment env = Env("serials=" + serial + "\n");
        // Each its own simulated instrument; one history.
        env["ZQSIM_CONFIG"] = PathOf(serial + ".conf");
        std::ofstream(PathOf(serial + ".conf")) << "serials=" << serial << "\n";
        env["ZQSIM_STATE"] = PathOf(serial + ".state");
        env["ZQSIM_TRANSCRIPT"] = PathOf(serial + ".txt");
        return RunCli(Command({"install", "{fw.pak}", "--yes"}), env);
    };
    auto first = std::async(std::launch::async, install, "ABC123");
    auto second = std::async(std::launch::async, install, "DEF456");
    EXPECT_EQ(first.get().code, 0);
    EXPECT_EQ(second.get().code, 0);

    const json records = Records();
    ASSERT_EQ(records.size(), 2u);
    std::set<std::string> serials{records[0]["serial"], records[1]["serial"]};
    EXPECT_EQ(serials, (std::set<std::string>{"ABC123", "DEF456"}));
    for (const json& record : records) {
        EXPECT_EQ(record["kind"], "package");
        EXPECT_EQ(record["entry_count"], 2);
        EXPECT_EQ(record["result"], "done");
    }
}

TEST_F(CliHistoryTest, ADamagedLineIsSkippedWithAWarning)
{
    std::ofstream(PathOf("history.jsonl"))
        << R"({"time":"2026-01-02T03:04:05.000Z","serial":"ABC123","firmware_version_field":"02.05-11-07",)"
        << R"("file":"a.bin","size":10,"sha256":"","kind":"image","result":"done","duration_ms":5})"
        << "\n"
        << R"({"time":"2026-01-02T03:04)"
        << "\n"
        << R"({"time":"2026-02-02T03:04:05.000Z","serial":"DEF456","firmware_version_field":"02.05-11-07",)"
        << R"("file":"b.pak","size":10,"sha256":"","kind":"package","entry_count":2,"result":"failed",)"
        << R"("reason":"the 3nd error -- Checksum error.","duration_ms":5})"
        << "\n";
    const CliRun run = Run({"history"});
    EXPECT_EQ(run.code, 0);
    EXPECT_THAT(run.err, HasSubstr("history.jsonl:2: damaged record skipped"));
    EXPECT_THAT(run.out, HasSubstr("b.pak (package of 2 entries"));
    EXPECT_THAT(run.out, HasSubstr("    the 3nd error -- Checksum error."));
    EXPECT_LT(run.out.find("b.pak"), run.out.find("a.bin"));
    EXPECT_EQ(Records({"--since", "2026-02-01"}).size(), 1u);
}

TEST_F(CliHistoryTest, AHistoryThatCannotBeWrittenChangesNoOutcome)
{
    WriteFirmwareFiles();
    std::ofstream(PathOf("blocker")) << "a file where a folder should be";
    Environment env = Env();
    env["METERLOAD_HISTORY"] = PathOf("blocker") + "/history.jsonl";
    const CliRun run = RunCli(Command({"install", "{main.bin}", "--yes", "--json"}), env);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(json::parse(run.out)["result"], "installed");
    EXPECT_THAT(run.err, HasSubstr("Warning: this update is not in the history: cannot"));
}

}  // namespace
}  // namespace meterload::testing

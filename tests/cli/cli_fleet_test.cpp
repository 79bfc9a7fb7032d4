// Several instruments updated at once by the real program, in real time: each
// one as it would be updated alone, a failure that leaves the others updated,
// the selection, the summary and its exit code, the one question, and Ctrl+C.
#include "tests/cli/cli_fixture.h"

#include "tests/cli/cli_wire.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <set>
#include <sstream>

namespace meterload::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

class CliFleetTest : public CliTest {
protected:
    // The instruments that took a whole image, by their serial numbers.
    std::set<std::string> Updated() const
    {
        std::set<std::string> serials;
        for (const WireEvent& event : Transcript()) {
            if (event.name == "image") {
                serials.insert(event.Field("serial"));
            }
        }
        return serials;
    }

    json History() const
    {
        const CliRun run = Run({"history", "--json"});
        EXPECT_EQ(run.code, 0) << run.err;
        return json::parse(run.out).at("records");
    }

    // The instruments powered on afresh, with no transcript and no history.
    void StartAfresh() const
    {
        for (const char* name : {"sim.state", "transcript.txt", "history.jsonl"}) {
            std::filesystem::remove(PathOf(name));
        }
    }
};

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(CliFleetTest, OneRefusedAndOneUnpluggedLeaveTheOthersUpdatedAsAlone)
{
    WriteFirmwareFiles();
    const std::map<std::string, std::string> faults = {
        {"AAA111", ""},
        {"BBB222", "replies=2\n"},               // refuses the image
        {"CCC333", "unplug_after_bytes=500\n"},  // gone mid-transfer
        {"DDD444", ""},
    };
    std::string config = "serials=AAA111,BBB222,CCC333,DDD444\n";
    for (const auto& [serial, fault] : faults) {
        config += fault.empty() ? "" : serial + "." + fault;
    }
    const CliRun run = Run({"install", "{main.bin}", "--all", "--yes", "--json"}, config);

    // The first failure in the table's order decides the exit code.
    EXPECT_EQ(run.code, 1) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["exit_code"], 1);
    EXPECT_EQ(doc.value("first_failure", ""), "BBB222");
    EXPECT_THAT(doc.value("error", ""), HasSubstr("BBB222"));
    const json& instruments = doc["instruments"];
    ASSERT_EQ(instruments.size(), 4u) << doc.dump(1);
    const std::vector<std::pair<std::string, std::string>> expected = {{"AAA111", "installed"},
                                                                       {"BBB222", "failed"},
                                                                       {"CCC333", "failed"},
                                                                       {"DDD444", "installed"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(instruments[i]["serial"], expected[i].first);
        EXPECT_EQ(instruments[i]["result"], expected[i].second) << expected[i].first;
        EXPECT_EQ(instruments[i]["exit_code"], expected[i].second == "installed" ? 0 : 1);
        EXPECT_EQ(instruments[i]["update_mode_entered"], true);
        EXPECT_EQ(instruments[i].value("firmware_version_field", "").substr(0, 11), "02.05-11-07");
    }
    EXPECT_THAT(instruments[1]["log"].dump(), HasSubstr("the 3nd error -- Checksum error."));
    EXPECT_EQ(instruments[0]["reason"], "installed");
    EXPECT_EQ(instruments[1]["reason"], "reply_refused");
    EXPECT_EQ(instruments[2]["reason"], "connection_lost");
    EXPECT_EQ(Updated(), (std::set<std::string>{"AAA111", "DDD444"}));

    // Plain lines, each whole: none starts inside another, up to the closing
    // message and its advice.
    for (const std::string& line : LinesOf(run.err)) {
        EXPECT_THAT(line, ::testing::ContainsRegex("^(Installing on |File: |Transfer: |First failure: |"
                                                   "(AAA111|BBB222|CCC333|DDD444): )"));
        if (line.rfind("First failure: ", 0) == 0) {
            break;
        }
    }

    // Each instrument's wire, faults and all, is what an update of it alone carries.
    const auto wires = ExchangesBySerial(Transcript());
    for (const auto& [serial, fault] : faults) {
        const auto alone = DialogUpdateAlone(PathOf("main.bin"), "serials=" + serial + "\n" + fault);
        ASSERT_EQ(wires.count(serial), 1u) << serial;
        ExpectSameExchange(wires.at(serial), ExchangeOf(alone), serial);
    }

    // The library stays loaded for the whole run, so each connection closes
    // the instrument session it opened instead of leaving it to the unload.
    std::map<std::string, int> opened;
    std::map<std::string, int> closed;
    for (const WireEvent& event : Transcript()) {
        if (event.name == "viOpen") {
            ++opened[event.Field("serial")];
        } else if (event.name == "viClose" && event.Has("serial")) {
            ++closed[event.Field("serial")];
        }
    }
    EXPECT_EQ(opened.size(), faults.size());
    EXPECT_EQ(closed, opened);

    // One record per update.
    const json records = History();
    std::map<std::string, std::string> results;
    for (const json& record : records) {
        results[record["serial"]] = record["result"];
    }
    EXPECT_EQ(records.size(), 4u);
    EXPECT_EQ(results, (std::map<std::string, std::string>{
                           {"AAA111", "done"}, {"BBB222", "failed"}, {"CCC333", "failed"}, {"DDD444", "done"}}));
}

TEST_F(CliFleetTest, TheSerialNumbersChooseTheInstrumentsAndTheTableOrder)
{
    WriteFirmwareFiles();
    struct Case {
        std::vector<std::string> selection;
        std::string serials;  // attached
        int code;
        std::set<std::string> updated;
        std::vector<std::string> table;  // the rows' first cells, then the closing line's start
    };
    const std::vector<Case> cases = {
        {{"--serial", "CCC333", "--serial", "AAA111"},
         "AAA111,BBB222,CCC333",
         0,
         {"AAA111", "CCC333"},
         {"SERIAL", "CCC333", "AAA111", "2 of 2 instruments updated."}},
        // One not attached: the others are still updated, and it is the failure.
        {{"--serial", "AAA111", "--serial", "ZZZ999"},
         "AAA111,BBB222",
         3,
         {"AAA111"},
         {"SERIAL", "AAA111", "ZZZ999", "1 of 2 done. First failure: ZZZ999, not found (exit 3)."}},
        {{"--all"}, "", 3, {}, {}},
        // The same serial twice is one instrument, as today.
        {{"--serial", "BBB222", "--serial", "BBB222"}, "AAA111,BBB222", 0, {"BBB222"}, {}},
        {{"--all", "--serial", "AAA111"}, "AAA111,BBB222", 2, {}, {}},
    };
    for (const Case& c : cases) {
        StartAfresh();
        std::vector<std::string> args{"install", "{main.bin}", "--yes"};
        args.insert(args.end(), c.selection.begin(), c.selection.end());
        const CliRun run = Run(args, "serials=" + c.serials + "\n");
        const std::string what = ::testing::PrintToString(c.selection);
        EXPECT_EQ(run.code, c.code) << what << "\n" << run.err;
        EXPECT_EQ(Updated(), c.updated) << what;
        EXPECT_EQ(History().size(), c.updated.size()) << what;
        const std::vector<std::string> lines = LinesOf(run.out);
        ASSERT_EQ(lines.size(), c.table.size()) << what << "\n" << run.out;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].substr(0, c.table[i].size()), c.table[i]) << what << "\n" << run.out;
        }
    }
}

TEST_F(CliFleetTest, TheFirstFailureInTheTableSetsTheExitCode)
{
    WriteFirmwareFiles();
    // AAA111 is newer than the image (refused before update mode: 4); BBB222
    // refuses the image in update mode (1).
    const std::string config = "serials=AAA111,BBB222\nAAA111.versions=02.07-11-07\nBBB222.replies=2\n";
    const std::vector<std::pair<std::vector<std::string>, int>> orders = {
        {{"--serial", "AAA111", "--serial", "BBB222"}, 4},
        {{"--serial", "BBB222", "--serial", "AAA111"}, 1},
    };
    for (const auto& [selection, code] : orders) {
        StartAfresh();
        std::vector<std::string> args{"install", "{main.bin}", "--yes"};
        args.insert(args.end(), selection.begin(), selection.end());
        const CliRun run = Run(args, config);
        EXPECT_EQ(run.code, code) << run.err;
        EXPECT_THAT(run.out, HasSubstr("First failure: " + selection[1] + ","));
        EXPECT_THAT(run.err, HasSubstr("First failure: " + selection[1] + ": "));
        const std::vector<std::string> lines = LinesOf(run.out);
        ASSERT_GE(lines.size(), 3u) << run.out;
        EXPECT_THAT(lines[1], ::testing::ContainsRegex("^" + selection[1] + " +02\\.0[57]-11-07 +(refused|failed) "));
        // Both updates tried, each recorded.
        EXPECT_EQ(History().size(), 2u);
    }
}

TEST_F(CliFleetTest, OneQuestionCoversEveryInstrument)
{
    WriteFirmwareFiles();
    const std::vector<std::pair<std::string, int>> answers = {{"y\n", 0}, {"n\n", 130}};
    for (const auto& [answer, code] : answers) {
        StartAfresh();
        PtyRun run(Command({"install", "{main.bin}", "--all"}), Env("serials=AAA111,BBB222\n"));
        ASSERT_TRUE(run.WaitForOutput("[y/N] ")) << run.Output();
        EXPECT_FALSE(EnteredUpdateMode());
        run.Type(answer);
        EXPECT_EQ(run.Wait(), code) << run.Output();
        const std::string& out = run.Output();
        const std::string question = "Switch these 2 ZQ6140 into update mode and install (AAA111, BBB222)? [y/N] ";
        EXPECT_EQ(out.find(question), out.rfind(question)) << "asked more than once:\n" << out;
        if (code == 0) {
            EXPECT_EQ(Updated(), (std::set<std::string>{"AAA111", "BBB222"}));
            // The board: its rows redrawn together in place, each ending with the result.
            EXPECT_THAT(out, HasSubstr("\x1b[2A"));
            EXPECT_THAT(out, ::testing::ContainsRegex("AAA111 +installed +100% +1000 of 1000 bytes"));
            EXPECT_THAT(out, ::testing::ContainsRegex("BBB222 +installed +100% +1000 of 1000 bytes"));
            EXPECT_THAT(out, Not(HasSubstr("Sent 10%")));
        } else {
            EXPECT_FALSE(EnteredUpdateMode());
            EXPECT_THAT(out, HasSubstr("AAA111: Not installed."));
            EXPECT_THAT(out, HasSubstr("BBB222: Not installed."));
        }
    }
}

TEST_F(CliFleetTest, CtrlCStopsEveryInstrumentsWrites)
{
    ImageSpec spec;
    spec.bodySize = 240 * 300;
    Write("big.bin", ImageBytes(spec));
    const std::vector<std::string> serials = {"AAA111", "BBB222"};
    const WriteGates gates(PathOf("gates"));
    constexpr std::uint64_t kFirstHold = 240 * 20;
    constexpr std::uint64_t kSecondHold = 240 * 40;
    for (const std::string& serial : serials) {
        gates.HoldAfter(serial, kFirstHold);
    }
    PtyRun run(Command({"install", "{big.bin}", "--all", "--yes"}),
               Env("serials=AAA111,BBB222\n" + gates.ConfigLine()));
    // Both held in the middle of their transfers: the first press only warns.
    for (const std::string& serial : serials) {
        ASSERT_TRUE(AwaitHeld(serial, 1)) << serial << "\n" << run.Output();
    }
    run.Type("\x03");
    ASSERT_TRUE(run.WaitForOutput("Press Ctrl+C again to stop anyway.")) << run.Output();
    for (const std::string& serial : serials) {
        gates.HoldAfter(serial, kSecondHold);
    }
    for (const std::string& serial : serials) {
        ASSERT_TRUE(AwaitHeld(serial, 2)) << serial << "\n" << run.Output();
    }
    // Both held again: the second press stops each after its write in flight.
    run.Type("\x03");
    ASSERT_TRUE(run.WaitForOutput("Stopping before the next write.")) << run.Output();
    for (const std::string& serial : serials) {
        gates.Release(serial);
    }
    EXPECT_EQ(run.Wait(), 130) << run.Output();
    EXPECT_THAT(run.Output(), HasSubstr("AAA111: Stopped: the ZQ6140 is left in update mode."));
    EXPECT_THAT(run.Output(), HasSubstr("BBB222: Stopped: the ZQ6140 is left in update mode."));
    EXPECT_THAT(run.Output(), Not(HasSubstr("update completed")));
    EXPECT_TRUE(Updated().empty());
    const auto events = Transcript();
    for (const std::string& serial : serials) {
        ExpectStoppedAfterTheWriteInFlight(events, serial, kFirstHold, kSecondHold);
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "unload");
}

}  // namespace
}  // namespace meterload::testing

// The history file: appends from many threads and processes at once come
// back whole, damaged lines are skipped with a warning, newest first, and
// where the file lives.
#include "update/update_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;

class HistoryTest : public ::testing::Test {
protected:
    HistoryTest()
    {
        char pattern[] = "/tmp/meterload-history-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = dir_ + "/deep/er/history.jsonl";
    }
    ~HistoryTest() override { std::filesystem::remove_all(dir_); }

    std::string dir_;
    std::string path_;
};

UpdateRecord Sample(const std::string& serial, int n, std::size_t reasonSize = 0)
{
    UpdateRecord r;
    r.time = "2026-12-10T10:00:" + std::string(n < 10 ? "0" : "") + std::to_string(n % 60) + ".000Z";
    r.serial = serial;
    r.firmwareVersionField = "02.05-11-07";
    r.file = "main.bin";
    r.path = "/x/main.bin";
    r.size = 1050;
    r.sha256 = std::string(64, 'a');
    r.result = "failed";
    // Long enough that one write() cannot be assumed to go out at once.
    r.reason = std::string(reasonSize, static_cast<char>('a' + n % 26)) + "#" + std::to_string(n);
    r.durationMs = n;
    return r;
}

TEST_F(HistoryTest, ConcurrentAppendsFromThreadsAndProcessesNeitherMixNorLose)
{
    constexpr int kWriters = 4;   // per process
    constexpr int kEach = 25;
    constexpr std::size_t kBig = 200 * 1024;
    const auto writeSome = [&](const std::string& serial) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kWriters; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    std::string error;
                    const bool ok = AppendRecord(path_, Sample(serial + std::to_string(t), i, i % 5 == 0 ? kBig : 10), error);
                    if (!ok) {
                        std::abort();
                    }
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writeSome("CHILD");
        _exit(0);
    }
    writeSome("PARENT");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const History history = ReadHistory(path_);
    EXPECT_TRUE(history.warnings.empty()) << history.warnings.front();
    ASSERT_EQ(history.records.size(), static_cast<std::size_t>(2 * kWriters * kEach));
    std::set<std::string> seen;
    for (const UpdateRecord& r : history.records) {
        const int n = static_cast<int>(r.durationMs);
        EXPECT_EQ(r.reason, Sample(r.serial, n, n % 5 == 0 ? kBig : 10).reason) << r.serial << " " << n;
        seen.insert(r.serial + "/" + std::to_string(n));
    }
    EXPECT_EQ(seen.size(), history.records.size());
}

TEST_F(HistoryTest, DamagedLinesAreSkippedWithTheirNumbers)
{
    std::string error;
    ASSERT_TRUE(AppendRecord(path_, Sample("A", 1), error)) << error;
    {
        std::ofstream out(path_, std::ios::app | std::ios::binary);
        out << "{\"time\":\"2026-12-10T11:00:00.000Z\",\"serial\":\"CUT\n";  // cut short
        out << "not json at all\n";
        out << "{\"time\":\"2026-12-10T11:00:00.000Z\"}\n";  // keys missing
        out << "\n";
        out << "\xff\xfe\x01\n";
    }
    ASSERT_TRUE(AppendRecord(path_, Sample("B", 2), error)) << error;

    const History history = ReadHistory(path_);
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_EQ(history.records[0].serial, "B");  // newest first
    EXPECT_EQ(history.records[1].serial, "A");
    ASSERT_EQ(history.warnings.size(), 4u);
    EXPECT_THAT(history.warnings[0], HasSubstr("history.jsonl:2: damaged record skipped"));
    EXPECT_THAT(history.warnings[3], HasSubstr(":6:"));
}

TEST_F(HistoryTest, RecordsComeBackAsWritten)
{
    UpdateRecord r = Sample("ÄBC\x01", 7);
    r.package = true;
    r.entryCount = 3;
    r.result = "refused";
    r.reason = "line one\r\nline \"two\"";
    r.file = "fw\xE4.pak";  // an ANSI name
    std::string error;
    ASSERT_TRUE(AppendRecord(path_, r, error)) << error;
    const History history = ReadHistory(path_);
    ASSERT_EQ(history.records.size(), 1u);
    const UpdateRecord& back = history.records[0];
    EXPECT_EQ(back.serial, r.serial);
    EXPECT_EQ(back.reason, r.reason);
    EXPECT_TRUE(back.package);
    EXPECT_EQ(back.entryCount, 3);
    EXPECT_EQ(back.file, "fw\xEF\xBF\xBD.pak");  // not UTF-8: replaced, never refused
}

TEST_F(HistoryTest, AnAppendThatCannotBeWrittenSaysWhy)
{
    std::ofstream(dir_ + "/file") << "x";
    std::string error;
    EXPECT_FALSE(AppendRecord(dir_ + "/file/history.jsonl", Sample("A", 1), error));
    EXPECT_THAT(error, HasSubstr(dir_ + "/file"));
    EXPECT_FALSE(AppendRecord("", Sample("A", 1), error));
    EXPECT_THAT(error, HasSubstr("METERLOAD_HISTORY"));
    EXPECT_FALSE(ReadHistory(dir_ + "/none.jsonl").found);
}

TEST(HistoryPathTest, ChosenByTheEnvironment)
{
    struct Case {
        const char* history;
        const char* state;
        const char* home;
        const char* path;
    };
    const Case cases[] = {
        {"/h/x.jsonl", "/s", "/home/u", "/h/x.jsonl"},
        {nullptr, "/s", "/home/u", "/s/meterload/history.jsonl"},
        {nullptr, "relative", "/home/u", "/home/u/.local/state/meterload/history.jsonl"},
        {"", nullptr, "/home/u", "/home/u/.local/state/meterload/history.jsonl"},
        {nullptr, nullptr, nullptr, ""},
    };
    const auto set = [](const char* name, const char* value) {
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    };
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        set("METERLOAD_HISTORY", c.history);
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        EXPECT_EQ(HistoryPath(), c.path);
    }
    unsetenv("METERLOAD_HISTORY");
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", home.c_str(), 1);
}

TEST(UtcNowTest, IsoShapeAndToday)
{
    const std::string now = UtcNow();
    EXPECT_THAT(now, ::testing::MatchesRegex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}Z"));
    char expected[16];
    const std::time_t t = std::time(nullptr);
    std::strftime(expected, sizeof expected, "%Y-%m-%d", std::gmtime(&t));
    EXPECT_EQ(now.substr(0, 10), expected);
}

}  // namespace
}  // namespace meterload::testing

// The history file: appends from many threads at once come
// back whole, damaged lines are skipped with a warning, newest first.
#include "tests/update/history_fixture.h"

#include "platform/sha256.h"

#include <ctime>
#include <fstream>
#include <regex>
#include <thread>

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;

TEST_F(HistoryTest, ConcurrentAppendsFromThreadsNeitherMixNorLose)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] { WriteSome("T" + std::to_string(t)); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ExpectAllWhole(4);
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
    r.reasonKey = "version_gate";
    r.file = "fw\xE4.pak";  // an ANSI name
    std::string error;
    ASSERT_TRUE(AppendRecord(path_, r, error)) << error;
    const History history = ReadHistory(path_);
    ASSERT_EQ(history.records.size(), 1u);
    const UpdateRecord& back = history.records[0];
    EXPECT_EQ(back.serial, r.serial);
    EXPECT_EQ(back.reason, r.reason);
    EXPECT_EQ(back.reasonKey, "version_gate");
    EXPECT_TRUE(back.package);
    EXPECT_EQ(back.entryCount, 3);
    EXPECT_EQ(back.file, "fw\xEF\xBF\xBD.pak");  // not UTF-8: replaced, never refused
}

// A record of an earlier version has no reason key; one of this version has
// nothing an earlier reader needs beyond the keys it always read.
TEST_F(HistoryTest, RecordsWithAndWithoutAReasonKeyReadAlike)
{
    UpdateRecord r = Sample("NEW", 1);
    r.result = "failed";
    r.reasonKey = "reply_missing";
    std::string error;
    ASSERT_TRUE(AppendRecord(path_, r, error)) << error;
    {
        std::ofstream out(path_, std::ios::app | std::ios::binary);
        out << R"({"time":"2026-12-01T10:00:00.000Z","serial":"OLD","firmware_version_field":"02.05-11-07\n",)"
            << R"("file":"a.bin","size":10,"sha256":"","kind":"image","result":"refused","reason":"r",)"
            << R"("duration_ms":5})"
            << "\n";
    }

    const History history = ReadHistory(path_);
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_TRUE(history.warnings.empty());
    EXPECT_EQ(history.records[0].reasonKey, "reply_missing");
    EXPECT_EQ(history.records[1].reasonKey, "");
    EXPECT_EQ(history.records[1].result, "refused");
    const std::string line = RecordLine(r);
    EXPECT_THAT(line, HasSubstr(R"("result":"failed")"));
    EXPECT_THAT(line, HasSubstr(R"("reason_key":"reply_missing")"));
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

TEST_F(HistoryTest, FileDigestsAreTheStandardOnes)
{
    struct Case {
        std::string content;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Longer than one read of the file.
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        const std::string path = dir_ + "/data";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
        EXPECT_EQ(FileSha256(path).value_or("unreadable"), c.digest) << c.content.size() << " bytes";
    }
    EXPECT_FALSE(FileSha256(dir_ + "/none").has_value());
}

TEST(UtcNowTest, IsoShapeAndToday)
{
    const std::string now = UtcNow();
    // std::regex: the Windows build's gtest knows only simple expressions.
    EXPECT_TRUE(
        std::regex_match(now,
                         std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}Z")))
        << now;
    char expected[16];
    const std::time_t t = std::time(nullptr);
    std::strftime(expected, sizeof expected, "%Y-%m-%d", std::gmtime(&t));
    EXPECT_EQ(now.substr(0, 10), expected);
}

}  // namespace
}  // namespace meterload::testing

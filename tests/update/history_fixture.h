// A private history file, records that tell who wrote them, and the check
// that appends made at once all came back whole.
#pragma once

#include "update/update_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>

namespace meterload::testing {

inline constexpr int kAppendsEach = 25;
// Long enough that one write cannot be assumed to go out at once.
inline constexpr std::size_t kBigReason = 200 * 1024;

inline std::size_t ReasonSize(int n)
{
    return n % 5 == 0 ? kBigReason : 10;
}

inline UpdateRecord Sample(const std::string& serial, int n, std::size_t reasonSize = 10)
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
    r.reason = std::string(reasonSize, static_cast<char>('a' + n % 26)) + "#" + std::to_string(n);
    r.durationMs = n;
    return r;
}

class HistoryTest : public ::testing::Test {
protected:
    HistoryTest()
    {
        // ctest runs each test in a process of its own, several at once: the
        // folder is named for the test and a random number, never shared.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = (std::filesystem::temp_directory_path() /
                ("meterload-history-" + std::string(test->name()) + "-" + std::to_string(std::random_device{}())))
                   .string();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = dir_ + "/deep/er/history.jsonl";
    }
    ~HistoryTest() override { std::filesystem::remove_all(dir_); }

    // kAppendsEach records by `serial`, every fifth one big.
    void WriteSome(const std::string& serial) const
    {
        for (int i = 0; i < kAppendsEach; ++i) {
            std::string error;
            if (!AppendRecord(path_, Sample(serial, i, ReasonSize(i)), error)) {
                std::abort();
            }
        }
    }

    void ExpectAllWhole(int writers) const
    {
        const History history = ReadHistory(path_);
        EXPECT_TRUE(history.warnings.empty()) << history.warnings.front();
        ASSERT_EQ(history.records.size(), static_cast<std::size_t>(writers * kAppendsEach));
        std::set<std::string> seen;
        for (const UpdateRecord& r : history.records) {
            const int n = static_cast<int>(r.durationMs);
            EXPECT_EQ(r.reason, Sample(r.serial, n, ReasonSize(n)).reason) << r.serial << " " << n;
            seen.insert(r.serial + "/" + std::to_string(n));
        }
        EXPECT_EQ(seen.size(), history.records.size());
    }

    std::string dir_;
    std::string path_;
};

}  // namespace meterload::testing

// Verifications in the history: their own records, readable beside records
// written before verifications existed, and each shown with the install it
// checked.
#include "tests/update/history_fixture.h"

#include <filesystem>
#include <fstream>
#include <tuple>

namespace meterload::testing {
namespace {

UpdateRecord At(const std::string& time, const std::string& serial, const std::string& sha, bool verification,
                const std::string& result)
{
    UpdateRecord r = Sample(serial, 1);
    r.time = time;
    r.sha256 = sha;
    r.verification = verification;
    r.result = result;
    return r;
}

TEST_F(HistoryTest, ALineWrittenBeforeVerificationsIsStillAnUpdate)
{
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    {
        // As the previous version wrote it, byte for byte.
        std::ofstream out(path_, std::ios::binary);
        out << R"({"time":"2026-12-10T14:02:11.204Z","serial":"DEF456","firmware_version_field":"02.05-11-07\n",)"
               R"("file":"fw.pak","path":"/x/fw.pak","size":1612,"sha256":")"
            << std::string(64, 'b') << R"(","kind":"package","entry_count":2,"result":"done","duration_ms":7300})"
            << "\n";
    }
    std::string error;
    ASSERT_TRUE(
        AppendRecord(path_, At("2026-12-10T14:05:00.000Z", "DEF456", std::string(64, 'b'), true, "verified"), error))
        << error;
    const History history = ReadHistory(path_);
    EXPECT_TRUE(history.warnings.empty()) << history.warnings.front();
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_TRUE(history.records[0].verification);
    EXPECT_FALSE(history.records[1].verification);
    EXPECT_TRUE(history.records[1].package);

    // The verification line carries every key an update has, so that a reader
    // that knows only updates takes it whole.
    const std::string line = RecordLine(history.records[0]);
    for (const char* key : {"\"time\"", "\"serial\"", "\"firmware_version_field\"", "\"file\"", "\"size\"",
                            "\"sha256\"", "\"kind\"", "\"result\"", "\"duration_ms\""}) {
        EXPECT_NE(line.find(key), std::string::npos) << key << " missing from " << line;
    }
    EXPECT_NE(line.find("\"record\":\"verification\""), std::string::npos) << line;
}

struct PairCase {
    const char* name;
    std::vector<UpdateRecord> records;  // newest first
    // Per entry: its serial, whether it is a verification, and the verdict shown beside it ("" for none).
    std::vector<std::tuple<std::string, bool, std::string>> entries;
};

TEST(PairVerificationsTest, EachVerificationGoesWithTheInstallItChecked)
{
    const std::string a(64, 'a');
    const std::string b(64, 'b');
    const PairCase cases[] = {
        {"install, then its verification",
         {At("T2", "S1", a, true, "verified"), At("T1", "S1", a, false, "done")},
         {{"S1", false, "verified"}}},
        {"the newest of two verifications of one install",
         {At("T3", "S1", a, true, "verified"), At("T2", "S1", a, true, "not verified"),
          At("T1", "S1", a, false, "done")},
         {{"S1", false, "verified"}}},
        {"another instrument's verification is not this one's",
         {At("T2", "S2", a, true, "verified"), At("T1", "S1", a, false, "done")},
         {{"S2", true, ""}, {"S1", false, ""}}},
        {"another file's verification stands alone",
         {At("T2", "S1", b, true, "verified"), At("T1", "S1", a, false, "done")},
         {{"S1", true, ""}, {"S1", false, ""}}},
        {"a later install takes the verification, the earlier one has none",
         {At("T3", "S1", a, true, "not verified"), At("T2", "S1", a, false, "done"), At("T1", "S1", a, false, "done")},
         {{"S1", false, "not verified"}, {"S1", false, ""}}},
        {"a failed install is not verified",
         {At("T2", "S1", a, true, "verified"), At("T1", "S1", a, false, "failed")},
         {{"S1", true, ""}, {"S1", false, ""}}},
        {"a verification before any install",
         {At("T2", "S1", a, false, "done"), At("T1", "S1", a, true, "verified")},
         {{"S1", false, ""}, {"S1", true, ""}}},
    };
    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<HistoryEntry> entries = PairVerifications(c.records);
        ASSERT_EQ(entries.size(), c.entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& [serial, verification, verdict] = c.entries[i];
            EXPECT_EQ(entries[i].record.serial, serial) << "entry " << i;
            EXPECT_EQ(entries[i].record.verification, verification) << "entry " << i;
            EXPECT_EQ(entries[i].verification ? entries[i].verification->result : "", verdict) << "entry " << i;
        }
    }
}

}  // namespace
}  // namespace meterload::testing

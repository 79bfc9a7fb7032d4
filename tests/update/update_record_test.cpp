// The record every update leaves in the history, from the dialog's side: the
// same dialog calls with or without a history, and the result, reason and
// file facts of each way an update ends.
#include "tests/update/update_flow_fixture.h"

#include "platform/sha256.h"
#include "update/update_history.h"

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;

class KeptRecords final : public UpdateRecorder {
public:
    void Record(const UpdateRecord& record) override { records.push_back(record); }
    std::vector<UpdateRecord> records;
};

class UpdateRecordTest : public UpdateFlowTest {
protected:
    // The check and one update by a driver that keeps a history (or none),
    // on a dialog of its own.
    std::vector<UpdateRecord> Recorded(const std::optional<std::string>& choice, bool history = true)
    {
        KeptRecords kept;
        RecordingDialog own;
        UpdateDriver recorded(
            UpdateContext{own, clock, sim.LibraryPath(), std::string(), nullptr, history ? &kept : nullptr});
        recorded.CheckInstrument();
        own.QueueFileChoice(choice);
        recorded.OnOK();
        seen = own.EventLog();
        return kept.records;
    }
    std::string seen;
};

struct RecordCase {
    const char* name;
    const char* config;  // extra sim lines
    const char* file;    // written by Files()
    const char* result;
    const char* reason;  // a part of it; "" for none
};

const RecordCase kCases[] = {
    {"installed", "", "new.bin", "done", ""},
    {"another_maker", "", "foreign.bin", "refused", "correct firmware file"},
    {"gate", "", "old.bin", "refused", "version"},
    {"checksum_reply", "replies=1", "new.bin", "failed", "the 3nd error -- Checksum error."},
    {"write_fails", "fail_write_after=240", "new.bin", "failed", "the 1st error -- in writing progress."},
    {"package", "", "fw.pak", "done", ""},
    {"package_gate", "", "old.pak", "refused", "version"},
    {"package_reply", "replies=1", "fw.pak", "failed", "no reason given"},
};

class UpdateRecordCases : public UpdateRecordTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(UpdateRecordCases, OneRecordWithTheOutcome)
{
    const RecordCase& c = GetParam();
    WriteSampleFiles();

    Configure(c.config);
    const auto records = Recorded(PathOf(c.file));
    ASSERT_EQ(records.size(), 1u) << seen;
    const UpdateRecord& r = records[0];
    EXPECT_EQ(r.serial, "ABC123");
    EXPECT_EQ(r.firmwareVersionField.substr(0, 11), "02.05-11-07");
    EXPECT_EQ(r.file, c.file);
    EXPECT_EQ(r.path, PathOf(c.file));
    EXPECT_EQ(r.size, static_cast<std::int64_t>(std::filesystem::file_size(PathOf(c.file))));
    EXPECT_EQ(r.sha256, FileSha256(PathOf(c.file)).value_or("unreadable"));
    EXPECT_EQ(r.package, std::string(c.file).find(".pak") != std::string::npos);
    EXPECT_EQ(r.entryCount, r.package ? (std::string(c.file) == "fw.pak" ? 2 : 1) : 0);
    EXPECT_EQ(r.result, c.result) << r.reason;
    if (c.reason[0] == '\0') {
        EXPECT_EQ(r.reason, "");
    } else {
        EXPECT_THAT(r.reason, HasSubstr(c.reason));
    }
    EXPECT_GT(r.durationMs, 0);
    EXPECT_EQ(r.time.size(), 24u) << r.time;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, UpdateRecordCases, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(UpdateRecordTest, TheDialogSeesTheSameWithOrWithoutAHistory)
{
    ImageSpec fresh;
    fresh.bodySize = 500;
    const std::string path = WriteImage("new.bin", fresh);
    ImageSpec old = fresh;
    old.version = "02.05";
    const std::string refused = WriteImage("old.bin", old);
    for (const std::string& file : {path, refused}) {
        Configure();
        Recorded(file, false);
        const std::string plain = seen;
        Configure();
        EXPECT_EQ(Recorded(file).size(), 1u);
        EXPECT_EQ(seen, plain) << file;
    }
}

TEST_F(UpdateRecordTest, NoRecordWhenNoFileWasChosen)
{
    Configure();
    EXPECT_TRUE(Recorded(std::nullopt).empty());
}

TEST_F(UpdateRecordTest, DurationIsTheUpdatesOwnTime)
{
    ImageSpec fresh;
    fresh.bodySize = 2400;
    const std::string path = WriteImage("new.bin", fresh);
    Configure();
    const auto before = clock.Now();
    const auto records = Recorded(path);
    ASSERT_EQ(records.size(), 1u);
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - before).count();
    // The check and the identification come before the file is chosen.
    EXPECT_LE(records[0].durationMs, whole);
    EXPECT_GE(records[0].durationMs, whole - 3000);
}

}  // namespace
}  // namespace meterload::testing

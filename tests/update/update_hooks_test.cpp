// What a second front end adds to the dialog's procedures: the instrument
// chosen by serial number, the say before update mode, every data write
// reported, the writes stopped, the outcome, and the time an update takes.
#include "tests/update/update_flow_fixture.h"

#include "firmware/package_plan.h"
#include "platform/file.h"
#include "update/update_duration.h"
#include "update/update_observer.h"

#include <numeric>

namespace meterload::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class RecordingObserver final : public UpdateObserver {
public:
    bool MayEnterUpdateMode(std::string_view field) override
    {
        fields.emplace_back(field);
        return allowUpdateMode;
    }
    void EnteredUpdateMode() override { ++entered; }
    bool MayWrite() override { return writesAllowed < 0 || static_cast<int>(written.size()) < writesAllowed; }
    void Written(std::uint32_t count) override { written.push_back(count); }
    void Finished(bool complete) override { finished.push_back(complete); }

    bool allowUpdateMode = true;
    int writesAllowed = -1;  // no limit

    std::vector<std::string> fields;
    int entered = 0;
    std::vector<std::uint32_t> written;
    std::vector<bool> finished;
};

class UpdateHooksTest : public UpdateFlowTest {
protected:
    // One update through a driver that chooses `serial` and reports to the observer.
    void Run(const std::string& path, const std::string& serial = "ABC123")
    {
        UpdateDriver hooked(UpdateContext{dialog, clock, sim.LibraryPath(), serial, &observer});
        dialog.QueueFileChoice(path);
        hooked.Update();
    }

    // An image of `bodySize` bytes, or a package whose entry 1 has that body
    // and whose other entries have `others` bytes.
    std::string WriteUpdate(bool package, std::size_t bodySize, const std::vector<std::size_t>& others = {})
    {
        ImageSpec spec;
        spec.bodySize = bodySize;
        if (!package) {
            return WriteImage("fw.bin", spec);
        }
        PackageBuilder builder;
        builder.Image(ImageBytes(spec), "main.bin");
        std::uint8_t seed = 2;
        for (const std::size_t size : others) {
            builder.Image(ImageBody(size, seed++));
        }
        return WriteFile("fw.pak", builder.Build());
    }

    // The writes from "system:update\n" on, without it.
    std::vector<Bytes> WritesInUpdateMode()
    {
        auto writes = Writes();
        const auto at = std::find(writes.begin(), writes.end(), kSystemUpdate);
        if (at == writes.end()) {
            return {};
        }
        return std::vector<Bytes>(at + 1, writes.end());
    }

    RecordingObserver observer;
};

class EachKind : public UpdateHooksTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EachKind, DecliningUpdateModeLeavesTheInstrumentAsItWas)
{
    const bool package = GetParam();
    Configure();
    observer.allowUpdateMode = false;
    Run(WriteUpdate(package, 500, {300}));

    EXPECT_THAT(observer.fields, ElementsAre("02.05-11-07\n"));
    EXPECT_EQ(observer.entered, 0);
    const auto writes = Writes();
    EXPECT_EQ(std::count(writes.begin(), writes.end(), kSystemUpdate), 0) << HexList(writes);
    EXPECT_TRUE(sim.Events("mode").empty());
}

TEST_P(EachKind, EveryDataWriteIsReported)
{
    const bool package = GetParam();
    Configure();
    Run(WriteUpdate(package, 1000, {481, 240}));

    const std::uint64_t total = package ? 1000 + 481 + 240 : 1000;
    EXPECT_EQ(std::accumulate(observer.written.begin(), observer.written.end(), std::uint64_t{0}), total);
    EXPECT_EQ(observer.entered, 1);
    EXPECT_THAT(observer.finished, ElementsAre(true));
}

TEST_P(EachKind, StoppedWritesEndTheTransferAtOnce)
{
    const bool package = GetParam();
    for (const int allowed : {0, 1, 3}) {
        SCOPED_TRACE(allowed);
        Configure();
        observer = RecordingObserver();
        observer.writesAllowed = allowed;
        Run(WriteUpdate(package, 1000, {100}));

        // Exactly the data writes it allowed; the image cut short gets no
        // pad and no EndFrame (an entry sent whole before it still gets its own).
        std::size_t data = 0;
        for (const WireEvent& write : sim.Events("viWrite")) {
            data += write.Field("kind") == "data" ? 1u : 0u;
        }
        EXPECT_EQ(data, static_cast<std::size_t>(allowed)) << HexList(WritesInUpdateMode());
        const auto writes = WritesInUpdateMode();
        EXPECT_EQ(std::count(writes.begin(), writes.end(), kPad), 0);
        if (!writes.empty()) {
            EXPECT_EQ(writes.back().size(), package && allowed == 1 ? kFrame.size() : std::size_t{240})
                << HexList(writes);
        }
        EXPECT_LE(sim.Events("image").size(), package && allowed > 0 ? 1u : 0u);
        EXPECT_THAT(observer.finished, ElementsAre(false));
        EXPECT_THAT(dialog.LogLines(), ::testing::IsSupersetOf(FailureLines(package ? "fw.pak" : "fw.bin")));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EachKind, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Package" : "Image"; });

TEST_F(UpdateHooksTest, EveryConnectionReachesTheChosenInstrument)
{
    for (const bool package : {false, true}) {
        SCOPED_TRACE(package ? "package" : "image");
        ASSERT_TRUE(sim.Configure("serials=ABC123,DEF456\n"));
        Run(WriteUpdate(package, 292), "DEF456");

        for (const WireEvent& open : sim.Events("viOpen")) {
            EXPECT_NE(open.Field("name").find("::DEF456::"), std::string::npos) << open.Field("name");
        }
        const auto images = sim.Events("image");
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images.front().Field("serial"), "DEF456");
        EXPECT_NE(dialog.EventLog().find("Serial No: DEF456"), std::string::npos);
    }
}

TEST_F(UpdateHooksTest, AnAbsentSerialIsNotFound)
{
    Configure();
    Run(WriteUpdate(false, 292), "DEF456");
    const auto boxes = dialog.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.front().text, "ZQ6140 device not found.");
    EXPECT_TRUE(Writes().empty());
}

TEST_F(UpdateHooksTest, IdentifyAloneClosesItsConnection)
{
    ASSERT_TRUE(sim.Configure("serials=ABC123,DEF456\nversions=03.01-12-08\n"));
    UpdateDriver identifier(UpdateContext{dialog, clock, sim.LibraryPath(), "DEF456"});
    const auto identification = identifier.Identify();
    ASSERT_EQ(identification.found, UpdateDriver::Found::Instrument);
    EXPECT_EQ(identification.serial, "DEF456");
    EXPECT_EQ(identification.firmwareVersionField, "03.01-12-08\n");
    EXPECT_THAT(Writes(), ElementsAre(kLocal, kIdentify));

    ASSERT_TRUE(sim.Configure("serials=ABC123\nmode=update\n"));
    UpdateDriver wrongMode(UpdateContext{dialog, clock, sim.LibraryPath(), "ABC123"});
    EXPECT_EQ(wrongMode.Identify().found, UpdateDriver::Found::WrongMode);
    EXPECT_THAT(dialog.LogLines(), ElementsAre("Incorrect mode. Please recycle power on instrument and",
                                               "click \"Select\" to try again."));
}

// --- The duration told before an update is the one it takes ------------------

struct DurationCase {
    const char* name;
    bool package;
    std::size_t body;
    std::vector<std::size_t> others;
};

// The plan the update itself follows, read back from the package.
PackagePlan PlanOf(const std::string& path)
{
    const auto file = File::Open(path);
    return file ? PlanPackage(ReadPackageTable(*file, 100)) : PackagePlan{};
}

class DurationTest : public UpdateHooksTest, public ::testing::WithParamInterface<DurationCase> {};

TEST_P(DurationTest, MatchesTheTimeInUpdateMode)
{
    const DurationCase& c = GetParam();
    Configure();
    const std::string path = WriteUpdate(c.package, c.body, c.others);
    Run(path);
    ASSERT_THAT(observer.finished, ElementsAre(true));

    // From the start of "system:update\n" to the start of the last read,
    // which follows the last pause.
    const auto events = sim.Transcript();
    const auto start = std::find_if(events.begin(), events.end(),
                                    [](const WireEvent& e) { return e.name == "viWrite" && e.bytes == kSystemUpdate; });
    const auto last =
        std::find_if(events.rbegin(), events.rend(), [](const WireEvent& e) { return e.name == "viRead"; });
    ASSERT_NE(start, events.end());
    ASSERT_NE(last, events.rend());
    const auto measured = std::chrono::microseconds(last->time - start->time);

    const auto expected = c.package ? PackageUpdateDuration(PlanOf(path)) : ImageUpdateDuration(c.body);
    EXPECT_EQ(measured, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, DurationTest,
    ::testing::Values(DurationCase{"EmptyImage", false, 0, {}}, DurationCase{"ImageWithPad", false, 292, {}},
                      DurationCase{"ImageOfWholeChunks", false, 480, {}}, DurationCase{"LargerImage", false, 10001, {}},
                      DurationCase{"PackageOfOne", true, 52, {}}, DurationCase{"PackageWithPad", true, 292, {}},
                      DurationCase{"PackageOfThree", true, 1000, {240, 481}},
                      DurationCase{"PackageWithEmptyLead", true, 0, {52}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing

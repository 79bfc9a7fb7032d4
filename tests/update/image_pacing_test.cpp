// The single-image update on a clock that wakes late: the instrument still
// gets every pause after every write, and the 10 ms pause's lateness is
// absorbed by the 5 ms pause that follows it instead of adding to each chunk.
// (That a write's pause counts from the write's end on a slow wire is the
// connection's business, tested there.)
#include "tests/update/update_flow_fixture.h"

#include <ostream>

namespace meterload::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

struct PacingCase {
    const char* name;
    microseconds lateness;  // how late every pause wakes
};

std::ostream& operator<<(std::ostream& out, const PacingCase& pacing)
{
    return out << pacing.name;
}

class ImagePacingTest : public UpdateFlowTest, public ::testing::WithParamInterface<PacingCase> {
protected:
    ImagePacingTest() { clock.SetLateness(GetParam().lateness); }
};

TEST_P(ImagePacingTest, KeepsEveryGapAndAbsorbsLateWakeUps)
{
    const PacingCase& c = GetParam();
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 20 * 240 + 52;  // 21 data writes, then the PadCommand
    Press(WriteImage("main.bin", spec));
    ASSERT_EQ(dialog.LogLines(), SuccessLines("main.bin"));

    // The bytes and their order do not depend on the timing.
    std::vector<Bytes> expected = {kLocal, kIdentify, kSystemUpdate};
    for (const Bytes& chunk : Chunks(ImageBody(spec.bodySize, spec.bodySeed))) {
        expected.push_back(chunk);
    }
    expected.push_back(kPad);
    expected.push_back(kFrame);
    ASSERT_EQ(HexList(Writes()), HexList(expected));

    // On the virtual clock the calls on the wire take no time.
    const std::vector<microseconds> writes = WriteTimes();
    const auto gapAfter = [&](std::size_t i) { return writes[i + 1] - writes[i]; };
    for (std::size_t i = 3; i < 23; ++i) {
        EXPECT_GE(gapAfter(i), 15ms) << "after data write " << i - 2;
        // Without deadlines each chunk would carry two late wake-ups.
        EXPECT_LE(gapAfter(i), 15ms + c.lateness) << "after data write " << i - 2;
    }
    EXPECT_GE(gapAfter(23), 10ms) << "last data write to the PadCommand";
    EXPECT_LE(gapAfter(23), 10ms + c.lateness) << "last data write to the PadCommand";

    // Whatever follows a write on the wire, it comes 10 ms after it at least.
    const std::vector<WireEvent> events = sim.Transcript();
    std::optional<microseconds> lastWrite;
    for (const WireEvent& event : events) {
        if (event.name != "viWrite" && event.name != "viRead") {
            continue;
        }
        const microseconds at(static_cast<microseconds::rep>(event.time));
        if (lastWrite) {
            EXPECT_GE(at - *lastWrite, 10ms) << event.name << " at " << at.count() << " us";
        }
        lastWrite.reset();
        if (event.name == "viWrite") {
            lastWrite = at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Timing, ImagePacingTest,
                         ::testing::Values(PacingCase{"OnTime", 0us}, PacingCase{"WakingLate", 1ms},
                                           PacingCase{"WakingLaterThanTheChunkPause", 7ms},
                                           PacingCase{"WakingLaterThanTheWritePause", 12ms}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace meterload::testing

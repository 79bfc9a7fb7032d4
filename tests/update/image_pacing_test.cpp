// The single-image update on a clock that wakes late and a wire on which
// every call takes time: the instrument still gets every pause after every
// write, and the 10 ms pause's lateness is absorbed by the 5 ms pause that
// follows it instead of adding to each chunk.
#include "tests/support/slow_wire_clock.h"
#include "tests/update/update_flow_fixture.h"

#include <ostream>

namespace meterload::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

struct PacingCase {
    const char* name;
    microseconds lateness;  // how late every pause wakes
    microseconds wire;      // how long every call on the wire takes
};

std::ostream& operator<<(std::ostream& out, const PacingCase& pacing)
{
    return out << pacing.name;
}

class ImagePacingTest : public UpdateFlowTest, public ::testing::WithParamInterface<PacingCase> {
protected:
    ImagePacingTest() : wire_(clock, GetParam().wire)
    {
        sim.UseClock(wire_);
        clock.SetLateness(GetParam().lateness);
    }
    ~ImagePacingTest() override { sim.UseClock(clock); }

private:
    SlowWireClock wire_;
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

    // A write ends `wire` after its stamp; reads and writes are stamped when
    // they begin.
    const std::vector<microseconds> writes = WriteTimes();
    const auto gapAfter = [&](std::size_t i) { return writes[i + 1] - (writes[i] + c.wire); };
    for (std::size_t i = 3; i < 23; ++i) {
        EXPECT_GE(gapAfter(i), 15ms) << "after data write " << i - 2;
        // Without deadlines each chunk would carry two late wake-ups.
        EXPECT_LE(gapAfter(i), 15ms + c.lateness) << "after data write " << i - 2;
    }
    EXPECT_GE(gapAfter(23), 10ms) << "last data write to the PadCommand";
    EXPECT_LE(gapAfter(23), 10ms + c.lateness) << "last data write to the PadCommand";

    // Whatever follows a write on the wire, it comes 10 ms after the write ended at least.
    const std::vector<WireEvent> events = sim.Transcript();
    std::optional<microseconds> writeEnd;
    for (const WireEvent& event : events) {
        if (event.name != "viWrite" && event.name != "viRead") {
            continue;
        }
        const microseconds at(static_cast<microseconds::rep>(event.time));
        if (writeEnd) {
            EXPECT_GE(at - *writeEnd, 10ms) << event.name << " at " << at.count() << " us";
        }
        writeEnd.reset();
        if (event.name == "viWrite") {
            writeEnd = at + c.wire;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Timing, ImagePacingTest,
                         ::testing::Values(PacingCase{"OnTime", 0us, 0us},
                                           PacingCase{"WakingLate", 1ms, 0us},
                                           PacingCase{"WakingLaterThanTheChunkPause", 7ms, 0us},
                                           PacingCase{"SlowWire", 300us, 2ms},
                                           PacingCase{"WireSlowerThanTheChunkPause", 2ms, 6ms}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace meterload::testing

// The package update on a clock that wakes late: every gap between two calls
// on the wire is still at least the pauses that the expected timeline puts
// between them, and at most one late wake-up longer, however many pauses lie
// between; the lateness of the others is absorbed by the pauses that follow.
#include "tests/package/package_fixture.h"

#include <ostream>
#include <sstream>

namespace meterload::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

struct WireCall {
    std::string line;     // as WireLine gives it
    microseconds gap{0};  // since the call before: at least, or as measured
};

// The wire lines of an expected timeline, each with the sum of the pauses
// since the one before.
std::vector<WireCall> PrescribedCalls(const ExpectedTimeline& expected)
{
    std::vector<WireCall> calls;
    microseconds paused{0};
    std::istringstream lines(expected.Text());
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 6, "sleep ") == 0) {
            paused += std::chrono::milliseconds(std::stoi(line.substr(6)));
        } else if (line.compare(0, 6, "write ") == 0 || line.compare(0, 5, "read ") == 0) {
            calls.push_back({line, paused});
            paused = microseconds(0);
        }
    }
    return calls;
}

std::vector<WireCall> MeasuredCalls(const std::vector<WireEvent>& events)
{
    std::vector<WireCall> calls;
    std::optional<microseconds> before;
    for (const WireEvent& event : events) {
        if (event.name != "viWrite" && event.name != "viRead") {
            continue;
        }
        const microseconds at(static_cast<microseconds::rep>(event.time));
        calls.push_back({WireLine(event), before ? at - *before : microseconds(0)});
        before = at;
    }
    return calls;
}

struct LatenessCase {
    const char* name;
    microseconds lateness;
};

std::ostream& operator<<(std::ostream& out, const LatenessCase& lateness)
{
    return out << lateness.name;
}

class PackagePacingTest : public PackageUpdateTest, public ::testing::WithParamInterface<LatenessCase> {};

TEST_P(PackagePacingTest, KeepsEveryPauseAndAbsorbsLateWakeUps)
{
    const microseconds lateness = GetParam().lateness;
    Configure("serials=ABC123\n");
    // Full chunks and a short last one in every image; entry 1 ends in 52
    // bytes, so the PadCommand goes out too.
    const Bytes lead = LeadImage(kTestImageHeaderSize + 3 * 240 + 52);
    const std::vector<Bytes> others = {PlainImage(3 * 240 + 100, 2), PlainImage(2 * 240 + 52, 3)};
    WritePackage(lead, others);
    virtualClock_.SetLateness(lateness);

    ASSERT_EQ(Install(), kInstalled) << Actual();

    const std::vector<WireCall> prescribed = PrescribedCalls(ExpectedInstall(lead, others));
    const std::vector<WireCall> measured = MeasuredCalls(sim_.Transcript());
    ASSERT_EQ(measured.size(), prescribed.size()) << Actual();
    for (std::size_t i = 0; i < measured.size(); ++i) {
        ASSERT_EQ(measured[i].line, prescribed[i].line) << "call " << i << ": the bytes do not depend on the timing";
        if (i == 0) {
            continue;
        }
        EXPECT_GE(measured[i].gap, prescribed[i].gap) << "before call " << i << ", " << measured[i].line.substr(0, 20);
        EXPECT_LE(measured[i].gap, prescribed[i].gap + lateness)
            << "before call " << i << ", " << measured[i].line.substr(0, 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Lateness, PackagePacingTest,
                         ::testing::Values(LatenessCase{"OnTime", 0us}, LatenessCase{"WakingLate", 1ms},
                                           LatenessCase{"WakingLaterThanTheChunkPauses", 25ms},
                                           LatenessCase{"WakingLaterThanASettleStep", 150ms}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace meterload::testing

#include "tests/update/update_flow_fixture.h"

#include "tests/support/log_lines.h"
#include "tests/update/library_tracking.h"

#include <algorithm>
#include <cctype>

#include <atomic>
#include <sstream>

namespace meterload::testing {

namespace {

std::filesystem::path MakePrivateDirectory()
{
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "meterload-update-";
    name += std::to_string(static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
    name += "-" + std::to_string(counter++);
    if (info != nullptr) {
        for (char c : std::string(info->name())) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
    }
    const auto dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<std::chrono::microseconds> TimesOf(const std::vector<WireEvent>& events)
{
    std::vector<std::chrono::microseconds> times;
    for (const WireEvent& event : events) {
        times.emplace_back(static_cast<std::chrono::microseconds::rep>(event.time));
    }
    return times;
}

}  // namespace

std::string Hex(const Bytes& bytes)
{
    return HexBytes(bytes);
}

std::string HexList(const std::vector<Bytes>& writes)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        out << "\n  [" << i << "] " << writes[i].size() << " bytes: ";
        if (writes[i].size() > 12) {
            out << Hex(Bytes(writes[i].begin(), writes[i].begin() + 6)) << " ... "
                << Hex(Bytes(writes[i].end() - 6, writes[i].end()));
        } else {
            out << Hex(writes[i]);
        }
    }
    return out.str();
}

std::vector<Bytes> Chunks(const Bytes& body)
{
    std::vector<Bytes> chunks;
    for (std::size_t at = 0; at < body.size(); at += 240) {
        const std::size_t end = std::min(body.size(), at + 240);
        chunks.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(at),
                            body.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return chunks;
}

namespace {
std::vector<std::string> ClosingLines()
{
    return {"After instrument power is recycled, if you want to update another binary",
            "file, please press the \"Continue\" button, otherwise press the \"OK\" button", "to exit."};
}
}  // namespace

std::vector<std::string> SuccessLines(const std::string& fileName)
{
    std::vector<std::string> lines = {"\"" + fileName + "\" update completed. Please recycle power on instrument",
                                      "now.", ""};
    for (auto& line : ClosingLines()) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> FailureLines(const std::string& fileName)
{
    std::vector<std::string> lines = {"\"" + fileName + "\" firmware update failure! Please recycle power on",
                                      "instrument now and Try again.", ""};
    for (auto& line : ClosingLines()) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> HintLines()
{
    return {"Click \"Select\" button and find the file you want to update.", "", "  5407 for DSP firmware.",
            "  1232 for 430 firmware."};
}

std::vector<std::string> IdentityRefusalLines()
{
    return {"Firmware update was not successful.  Please be sure you selected the ",
            "correct firmware file in the installation process.", "\n",
            "Click \"Exit\" to end this update process and turn ZQ6140 power off then",
            "back on and try the update again."};
}

std::vector<std::string> GateRefusalLines(const std::string& processor)
{
    return {"Firmware Update Not Possible (" + processor + "). Binary file version is older than ",
            "instrument version.", "Please press the \"Exit\" button to exit and recycle power on instrument."};
}

UpdateFlowTest::UpdateFlowTest() : driver(UpdateContext{dialog, clock, sim.LibraryPath()}), dir_(MakePrivateDirectory())
{
    sim.UseClock(clock);
    LibraryTracking::Watch(sim.LibraryPath());
}

void UpdateFlowTest::TearDown()
{
    // Every way out closes its connection, and no two are ever open at once.
    EXPECT_EQ(LibraryTracking::Held(), 0) << "connections still holding the VISA library";
    EXPECT_LE(LibraryTracking::MostHeld(), 1) << "connections open at the same time";
}

UpdateFlowTest::~UpdateFlowTest()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void UpdateFlowTest::Configure(const std::string& extra)
{
    ASSERT_TRUE(sim.Configure("serials=ABC123\n" + extra + "\n")) << extra;
}

void UpdateFlowTest::WriteSampleFiles()
{
    ImageSpec fresh;
    fresh.bodySize = 700;
    WriteImage("new.bin", fresh);
    ImageSpec foreign = fresh;
    foreign.identity = "OTHER ZQ6140";
    WriteImage("foreign.bin", foreign);
    ImageSpec old = fresh;
    old.version = "02.05";
    WriteImage("old.bin", old);
    WriteFile("fw.pak",
              PackageBuilder().Image(ImageBytes(fresh), "main.bin").Image(ImageBody(300, 3), "p.bin").Build());
    WriteFile("old.pak", PackageBuilder().Image(ImageBytes(old), "old.bin").Build());
}

std::string UpdateFlowTest::WriteImage(const std::string& name, const ImageSpec& spec)
{
    return WriteFile(name, ImageBytes(spec));
}

std::string UpdateFlowTest::WriteFile(const std::string& name, const Bytes& bytes)
{
    const std::string path = PathOf(name);
    WriteFileBytes(path, bytes);
    return path;
}

void UpdateFlowTest::StartReady()
{
    driver.CheckInstrument();
    ASSERT_TRUE(driver.Ready()) << dialog.EventLog();
}

void UpdateFlowTest::Press(std::optional<std::string> choice)
{
    dialog.QueueFileChoice(std::move(choice));
    driver.OnOK();
}

std::vector<Bytes> UpdateFlowTest::Writes()
{
    return sim.Writes();
}

std::vector<std::chrono::microseconds> UpdateFlowTest::WriteTimes()
{
    return TimesOf(sim.Events("viWrite"));
}

std::vector<std::chrono::microseconds> UpdateFlowTest::ReadTimes()
{
    return TimesOf(sim.Events("viRead"));
}

std::vector<std::string> UpdateFlowTest::ImageEvents()
{
    std::vector<std::string> images;
    for (const WireEvent& event : sim.Events("image")) {
        images.push_back("size=" + event.Field("size"));
    }
    return images;
}

std::vector<std::string> UpdateFlowTest::LogLinesBeforeEnding() const
{
    // The ending clears the log; what it held just before is the text of
    // the last non-empty SetLogText before the last clearing.
    const auto& events = dialog.Events();
    std::size_t clear = events.size();
    for (std::size_t i = events.size(); i-- > 0;) {
        if (events[i].kind == DialogEvent::Kind::Log && events[i].text.empty()) {
            clear = i;
            break;
        }
    }
    for (std::size_t i = clear; i-- > 0;) {
        if (events[i].kind == DialogEvent::Kind::Log) {
            return SplitLogLines(events[i].text);
        }
    }
    return {};
}

}  // namespace meterload::testing

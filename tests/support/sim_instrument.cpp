#include "tests/support/sim_instrument.h"

#include "sim/zqsim_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>

namespace meterload::testing {
namespace {

#ifdef ZQSIM_LIBRARY_PATH
const char* const kLibraryPath = ZQSIM_LIBRARY_PATH;
#else
const char* const kLibraryPath = "";
#endif

std::string MakePrivateDirectory()
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("zqsim-" + std::to_string(stamp) + "-" + std::to_string(random()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) {
            return path.string();
        }
    }
    return std::string();
}

unsigned long long NowFromClock(void* context)
{
    return static_cast<unsigned long long>(static_cast<Clock*>(context)->Now().count());
}

void SleepOnClock(void* context, unsigned int milliseconds)
{
    static_cast<Clock*>(context)->Sleep(std::chrono::milliseconds(milliseconds));
}

bool NamesKey(const std::string& text, const std::string& key)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line.compare(first, key.size() + 1, key + "=") == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string SimLibraryPath()
{
    return kLibraryPath;
}

std::vector<WireEvent> InstrumentEvents(const std::vector<WireEvent>& events, const std::string& serial)
{
    std::vector<WireEvent> selected;
    for (const WireEvent& event : events) {
        if (event.Has("serial") && event.Field("serial") == serial) {
            selected.push_back(event);
        }
    }
    return selected;
}

std::vector<std::vector<std::uint8_t>> InstrumentWrites(const std::vector<WireEvent>& events, const std::string& serial)
{
    std::vector<std::vector<std::uint8_t>> writes;
    for (const WireEvent& event : InstrumentEvents(events, serial)) {
        if (event.name == "viWrite") {
            writes.push_back(event.bytes);
        }
    }
    return writes;
}

std::string SimVariantPath(const std::string& function)
{
    const std::filesystem::path library(kLibraryPath);
    const std::string stem = library.stem().string();
    return (library.parent_path() / (stem + "_without_" + function + library.extension().string())).string();
}

SimInstrument::SimInstrument(const std::string& config) : path_(kLibraryPath), directory_(MakePrivateDirectory())
{
    if (path_.empty() || !library_.Load(path_)) {
        ADD_FAILURE() << "cannot load the simulated instrument '" << path_ << "': " << library_.LastError();
        return;
    }
    EXPECT_TRUE(Configure(config)) << "configuration refused:\n" << config;
}

SimInstrument::~SimInstrument()
{
    if (library_.IsLoaded()) {
        UseSystemClock();
        // Releases the transcript file so that the directory can go.
        if (auto configure = reinterpret_cast<zqsim_configure_fn>(Symbol("zqsim_configure"))) {
            configure("");
        }
    }
    library_.Unload();
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
}

void* SimInstrument::Symbol(const char* name) const
{
    void* symbol = library_.Symbol(name);
    if (symbol == nullptr) {
        ADD_FAILURE() << "the simulated instrument lacks " << name;
    }
    return symbol;
}

std::string SimInstrument::StatePath() const
{
    return (std::filesystem::path(directory_) / "state.txt").string();
}

std::string SimInstrument::TranscriptPath() const
{
    return (std::filesystem::path(directory_) / "transcript.txt").string();
}

bool SimInstrument::Configure(const std::string& text)
{
    auto configure = reinterpret_cast<zqsim_configure_fn>(Symbol("zqsim_configure"));
    if (configure == nullptr) {
        return false;
    }
    std::string full = text;
    if (!full.empty() && full.back() != '\n') {
        full.push_back('\n');
    }
    if (!NamesKey(text, "state")) {
        full += "state=" + StatePath() + "\n";
    }
    if (!NamesKey(text, "transcript")) {
        full += "transcript=" + TranscriptPath() + "\n";
    }
    return configure(full.c_str()) == 0;
}

void SimInstrument::UseClock(Clock& clock)
{
    if (auto setClock = reinterpret_cast<zqsim_set_clock_fn>(Symbol("zqsim_set_clock"))) {
        setClock(&NowFromClock, &SleepOnClock, &clock);
    }
}

void SimInstrument::UseSystemClock()
{
    if (auto setClock = reinterpret_cast<zqsim_set_clock_fn>(Symbol("zqsim_set_clock"))) {
        setClock(nullptr, nullptr, nullptr);
    }
}

void SimInstrument::PowerCycle()
{
    if (auto powerCycle = reinterpret_cast<zqsim_power_cycle_fn>(Symbol("zqsim_power_cycle"))) {
        powerCycle();
    }
}

void SimInstrument::PlugIn()
{
    if (auto plugIn = reinterpret_cast<zqsim_plug_in_fn>(Symbol("zqsim_plug_in"))) {
        plugIn();
    }
}

std::string SimInstrument::TranscriptText() const
{
    auto transcript = reinterpret_cast<zqsim_transcript_fn>(Symbol("zqsim_transcript"));
    if (transcript == nullptr) {
        return std::string();
    }
    const std::size_t length = transcript(nullptr, 0);
    std::string text(length + 1, '\0');
    transcript(&text[0], text.size());
    text.resize(length);
    return text;
}

std::vector<WireEvent> SimInstrument::Transcript() const
{
    return ParseTranscript(TranscriptText());
}

std::vector<WireEvent> SimInstrument::Events(const std::string& name) const
{
    std::vector<WireEvent> selected;
    for (WireEvent& event : Transcript()) {
        if (event.name == name) {
            selected.push_back(std::move(event));
        }
    }
    return selected;
}

std::vector<std::vector<std::uint8_t>> SimInstrument::Writes() const
{
    std::vector<std::vector<std::uint8_t>> writes;
    for (const WireEvent& event : Events("viWrite")) {
        writes.push_back(event.bytes);
    }
    return writes;
}

std::vector<WireEvent> SimInstrument::Transcript(const std::string& serial) const
{
    return InstrumentEvents(Transcript(), serial);
}

std::vector<std::vector<std::uint8_t>> SimInstrument::Writes(const std::string& serial) const
{
    return InstrumentWrites(Transcript(), serial);
}

}  // namespace meterload::testing

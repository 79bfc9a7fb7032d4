#include "tests/support/write_gates.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace meterload::testing {
namespace {

using namespace std::chrono_literals;

// Tries again for a while: on Windows the simulator may have the file open
// for a moment, which refuses its removal.
template <class Action>
void Retry(Action action)
{
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!action() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
}

}  // namespace

WriteGates::WriteGates(std::string folder) : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_);
}

void WriteGates::HoldAfter(const std::string& serial, std::uint64_t bytes) const
{
    // In place: read half written, the number is shorter, so smaller, and holds more.
    Retry([&] {
        std::ofstream file(PathOf(serial), std::ios::binary | std::ios::trunc);
        return static_cast<bool>(file << bytes << "\n");
    });
}

void WriteGates::Release(const std::string& serial) const
{
    Retry([&] {
        std::error_code error;
        std::filesystem::remove(PathOf(serial), error);
        return !std::filesystem::exists(PathOf(serial), error);
    });
}

std::vector<WireEvent> AwaitTranscript(const std::string& path,
                                       const std::function<bool(const std::vector<WireEvent>&)>& done,
                                       std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::ifstream file(path, std::ios::binary);
        std::string text(std::istreambuf_iterator<char>(file), {});
        // A line still being appended is left for the next look.
        text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
        std::vector<WireEvent> events = ParseTranscript(text);
        if (done(events) || std::chrono::steady_clock::now() > end) {
            return events;
        }
        std::this_thread::sleep_for(5ms);
    }
}

std::vector<WireEvent> HeldWrites(const std::vector<WireEvent>& events, const std::string& serial)
{
    std::vector<WireEvent> held;
    for (const WireEvent& event : events) {
        if (event.name == "held" && event.Field("serial") == serial) {
            held.push_back(event);
        }
    }
    return held;
}

}  // namespace meterload::testing

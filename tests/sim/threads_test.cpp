// A client may call the library from several threads at once, as a real VISA
// library allows: sessions opened and closed and instruments queried in
// parallel must neither crash the simulator nor mix up its answers, and one
// instrument's silent reply must not hold up the others.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace meterload::testing {
namespace {

TEST(ThreadsTest, ParallelSessionsEachGetTheirOwnInstrumentsAnswer)
{
    const std::vector<std::string> serials = {"T0", "T1", "T2", "T3"};
    SimInstrument sim("serials=T0,T1,T2,T3\nrecord=counts");
    VisaApi api(sim.LibraryPath());
    ViSession rm = visa::VI_NULL;
    ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);

    constexpr int kRounds = 100;
    std::vector<std::vector<std::string>> failures(serials.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < serials.size(); ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "USB0::0x1D47::0x0B62::" + serials[t] + "::INSTR";
            const std::string expected = "KORVALEN,ZQ6140," + serials[t] + ",02.05-11-07\n";
            for (int round = 0; round < kRounds; ++round) {
                ViSession vi = visa::VI_NULL;
                const ViStatus opened = api.open(rm, name.c_str(), 0, 0, &vi);
                std::string reply;
                const ViStatus wrote = api.WriteText(vi, "*idn?\n");
                const ViStatus read = api.ReadText(vi, reply, 63);
                const ViStatus closed = api.close(vi);
                if (opened != visa::VI_SUCCESS || wrote != visa::VI_SUCCESS || read != visa::VI_SUCCESS ||
                    closed != visa::VI_SUCCESS || reply != expected) {
                    failures[t].push_back("round " + std::to_string(round) + ": statuses " + std::to_string(opened) +
                                          " " + std::to_string(wrote) + " " + std::to_string(read) + " " +
                                          std::to_string(closed) + ", reply '" + reply + "'");
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t t = 0; t < serials.size(); ++t) {
        EXPECT_TRUE(failures[t].empty()) << serials[t] << ": " << failures[t].size() << " failed rounds, first "
                                         << failures[t].front();
    }
    EXPECT_EQ(sim.Events("viOpen").size(), serials.size() * kRounds);
    EXPECT_EQ(api.close(rm), visa::VI_SUCCESS);
}

using ViClearFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession);

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);

// What one thread did to its instrument, and what went other than expected.
struct Traffic {
    std::vector<std::vector<std::uint8_t>> sent;
    std::size_t images = 0;
    std::vector<std::string> failures;

    void Check(bool ok, const std::string& what)
    {
        if (!ok) {
            failures.push_back(what);
        }
    }
};

// An update as MeterLoad runs it, one step per connection: each round opens
// the instrument, identifies it, clears it, sends one image of three pieces
// and its EndFrame, reads the status and closes; the first round also
// enters update mode. Rounds go on, a little apart, until `stop` is set.
void UpdateRepeatedly(VisaApi& api, const std::string& serial, char fill, const std::atomic<bool>& stop,
                      Traffic& traffic)
{
    const auto clear = api.Get<ViClearFn>("viClear");
    const auto send = [&](ViSession vi, const std::string& bytes, const char* what) {
        traffic.sent.emplace_back(bytes.begin(), bytes.end());
        traffic.Check(api.WriteText(vi, bytes) == visa::VI_SUCCESS, what);
    };
    for (int round = 0; round < 3 || !stop; ++round) {
        const ViSession vi = api.OpenSerial(serial);
        traffic.Check(vi != visa::VI_NULL, "open");
        traffic.Check(api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 2000) == visa::VI_SUCCESS, "timeout");
        send(vi, "*idn?\n", "identify");
        traffic.Check(clear(vi) == visa::VI_SUCCESS, "clear");
        traffic.sent.emplace_back(BytesOf("*idn?\n"));
        const std::string identity = api.Ask(vi, "*idn?\n");
        traffic.Check(identity == "KORVALEN,ZQ6140," + serial + (round == 0 ? ",02.05-11-07\n" : ",WDL\n"),
                      "identity '" + identity + "'");
        if (round == 0) {
            send(vi, "system:update\n", "enter update mode");
        }
        for (int piece = 0; piece < 3; ++piece) {
            send(vi, std::string(63, static_cast<char>(fill + piece)) + static_cast<char>('0' + round % 10),
                 "image data");
        }
        send(vi, kEndFrame, "EndFrame");
        ++traffic.images;
        std::string status;
        traffic.Check(api.ReadText(vi, status) == visa::VI_SUCCESS && status == "0", "status '" + status + "'");
        traffic.Check(api.close(vi) == visa::VI_SUCCESS, "close");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST(ThreadsTest, ASilentReplyHoldsUpOnlyItsOwnInstrument)
{
    const std::vector<std::string> busy = {"W0", "W1", "W2", "W3", "W4"};
    const std::string quiet = "QUIET";
    constexpr ViUInt32 kSilentTimeoutMs = 500;
    SimInstrument sim("serials=W0,W1,W2,W3,W4,QUIET\nQUIET.replies=none");
    VisaApi api(sim.LibraryPath());
    // One resource manager for all, opened before the threads share it.
    ASSERT_EQ(api.openDefaultRM(&api.rm), visa::VI_SUCCESS);

    std::atomic<std::size_t> ready{0};
    const std::size_t threadCount = busy.size() + 1;
    const auto startTogether = [&] {
        ++ready;
        while (ready < threadCount) {
            std::this_thread::yield();
        }
    };
    std::atomic<bool> quietDone{false};
    std::vector<Traffic> traffic(busy.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < busy.size(); ++t) {
        threads.emplace_back([&, t] {
            startTogether();
            UpdateRepeatedly(api, busy[t], static_cast<char>('a' + 3 * t), quietDone, traffic[t]);
        });
    }
    ViStatus silentRead = visa::VI_SUCCESS;
    ViUInt32 silentBytes = 99;
    threads.emplace_back([&] {
        startTogether();
        const ViSession vi = api.OpenSerial(quiet);
        api.WriteText(vi, "system:update\n");
        api.WriteText(vi, std::string(64, 'q'));
        api.WriteText(vi, kEndFrame);
        api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, kSilentTimeoutMs);
        visa::ViByte buffer[16];
        silentRead = api.read(vi, buffer, sizeof buffer, &silentBytes);
        quietDone = true;
        api.close(vi);
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(silentRead, visa::VI_ERROR_TMO);
    EXPECT_EQ(silentBytes, 0U);

    // Every line whole, and stamped no earlier than the line before it.
    const std::string text = sim.TranscriptText();
    const std::regex shape(R"(^[0-9]+ [A-Za-z_]+( [a-z_0-9]+=[^ ]*)*$)");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
    std::ifstream file(sim.TranscriptPath(), std::ios::binary);
    const std::string inFile(std::istreambuf_iterator<char>(file), {});
    std::size_t same = 0;
    while (same < inFile.size() && same < text.size() && inFile[same] == text[same]) {
        ++same;
    }
    EXPECT_TRUE(inFile == text) << "the transcript file differs from the library's own copy from byte " << same
                                << ":\n" << inFile.substr(same, 200) << "\n---\n" << text.substr(same, 200);
    const std::vector<WireEvent> events = ParseTranscript(text);
    for (std::size_t i = 1; i < events.size(); ++i) {
        ASSERT_GE(events[i].time, events[i - 1].time) << "line " << i + 1 << ": " << events[i].name;
    }

    // The silent read is stamped when it began and its session waits out
    // the timeout; meanwhile every other instrument is being served.
    const std::vector<WireEvent> quietEvents = sim.Transcript(quiet);
    std::size_t read = 0;
    while (read < quietEvents.size() && quietEvents[read].name != "viRead") {
        ++read;
    }
    ASSERT_LT(read + 1, quietEvents.size()) << text;
    EXPECT_EQ(quietEvents[read].Field("timeout_ms"), std::to_string(kSilentTimeoutMs));
    const std::uint64_t waitBegan = quietEvents[read].time;
    const std::uint64_t waitEnds = waitBegan + kSilentTimeoutMs * 1000ULL;
    EXPECT_GE(quietEvents[read + 1].time, waitEnds) << "the silent read did not wait out its timeout";

    for (std::size_t t = 0; t < busy.size(); ++t) {
        const std::string& serial = busy[t];
        EXPECT_TRUE(traffic[t].failures.empty())
            << serial << ": " << traffic[t].failures.size() << " unexpected results, first "
            << traffic[t].failures.front();
        const std::vector<WireEvent> own = sim.Transcript(serial);
        std::size_t duringWait = 0;
        std::set<std::string> sessions;
        std::size_t images = 0;
        for (const WireEvent& event : own) {
            duringWait += event.time > waitBegan && event.time < waitEnds ? 1U : 0U;
            if (event.name == "viOpen") {
                sessions.insert(event.Field("vi"));
            } else if (event.Has("vi")) {
                EXPECT_EQ(sessions.count(event.Field("vi")), 1U)
                    << serial << ": " << event.name << " on a session opened to another instrument";
            }
            if (event.name == "image") {
                ++images;
                EXPECT_EQ(event.Field("size"), "192") << serial;
            }
        }
        EXPECT_GT(duringWait, 0U) << serial << " was held up by the silent read";
        EXPECT_EQ(images, traffic[t].images) << serial;
        const auto writes = sim.Writes(serial);
        EXPECT_EQ(writes.size(), traffic[t].sent.size()) << serial;
        EXPECT_TRUE(writes == traffic[t].sent) << serial << ": its writes arrived other than sent";
    }
    EXPECT_EQ(api.close(api.rm), visa::VI_SUCCESS);
}

}  // namespace
}  // namespace meterload::testing

// A client may call the library from several threads at once, as a real VISA
// library allows: sessions opened and closed and instruments queried in
// parallel must neither crash the simulator nor mix up its answers, and
// neither one instrument's silent reply nor its held write may hold up the
// others. What happened meanwhile is told by the order of the events, never
// by how long anything took.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/write_gates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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

using namespace std::chrono_literals;

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);

// What one thread did to its instrument, and what went other than expected.
struct Traffic {
    std::vector<std::vector<std::uint8_t>> sent;
    std::size_t images = 0;
    std::atomic<std::size_t> rounds{0};  // finished, seen by the other threads
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
// enters update mode. Rounds go on until `stop` is set.
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
        ++traffic.rounds;
    }
}

// Busy instruments, each updated over and over by a thread of its own until
// Stop(); the threads start together with `extra` more.
class BusyInstruments {
public:
    BusyInstruments(VisaApi& api, std::vector<std::string> serials, std::size_t extra = 0)
        : serials_(std::move(serials)), traffic_(serials_.size()), threadCount_(serials_.size() + extra)
    {
        for (std::size_t t = 0; t < serials_.size(); ++t) {
            threads_.emplace_back([this, &api, t] {
                StartTogether();
                UpdateRepeatedly(api, serials_[t], static_cast<char>('a' + 3 * t), stop_, traffic_[t]);
            });
        }
    }
    ~BusyInstruments() { Stop(); }
    BusyInstruments(const BusyInstruments&) = delete;
    BusyInstruments& operator=(const BusyInstruments&) = delete;

    void StartTogether()
    {
        ++ready_;
        while (ready_ < threadCount_) {
            std::this_thread::yield();
        }
    }
    // The rounds each one has finished so far.
    std::vector<std::size_t> Rounds() const
    {
        std::vector<std::size_t> rounds;
        for (const Traffic& traffic : traffic_) {
            rounds.push_back(traffic.rounds);
        }
        return rounds;
    }
    // Waits until each has finished `more` rounds after `from`; false when one
    // is stuck (a minute, only ever reached when it is).
    bool AwaitRounds(const std::vector<std::size_t>& from, std::size_t more) const
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        for (std::size_t t = 0; t < traffic_.size(); ++t) {
            while (traffic_[t].rounds < from[t] + more) {
                if (std::chrono::steady_clock::now() > end) {
                    return false;
                }
                std::this_thread::yield();
            }
        }
        return true;
    }
    void Stop()
    {
        stop_ = true;
        for (std::thread& thread : threads_) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

    // Once stopped: each one's writes arrived as sent, each image whole, and
    // no call landed on another instrument's session.
    void ExpectServedAsSent(const SimInstrument& sim) const
    {
        for (std::size_t t = 0; t < serials_.size(); ++t) {
            const std::string& serial = serials_[t];
            const Traffic& traffic = traffic_[t];
            EXPECT_TRUE(traffic.failures.empty()) << serial << ": " << traffic.failures.size()
                                                  << " unexpected results, first " << traffic.failures.front();
            std::set<std::string> sessions;
            std::size_t images = 0;
            for (const WireEvent& event : sim.Transcript(serial)) {
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
            EXPECT_EQ(images, traffic.images) << serial;
            const auto writes = sim.Writes(serial);
            EXPECT_EQ(writes.size(), traffic.sent.size()) << serial;
            EXPECT_TRUE(writes == traffic.sent) << serial << ": its writes arrived other than sent";
        }
    }

    // How many images of each one ended between lines `after` and `before`
    // of the transcript `events`.
    std::map<std::string, std::size_t> ImagesBetween(const std::vector<WireEvent>& events, std::size_t after,
                                                     std::size_t before) const
    {
        std::map<std::string, std::size_t> images;
        for (const std::string& serial : serials_) {
            images[serial] = 0;
        }
        for (std::size_t i = after + 1; i < before && i < events.size(); ++i) {
            if (events[i].name == "image") {
                ++images[events[i].Field("serial")];
            }
        }
        return images;
    }

private:
    std::vector<std::string> serials_;
    std::vector<Traffic> traffic_;
    std::size_t threadCount_;
    std::atomic<std::size_t> ready_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The index of the first event at or after `from` that `match` accepts;
// events.size() when none does.
template <class Match>
std::size_t FindEvent(const std::vector<WireEvent>& events, std::size_t from, Match match)
{
    while (from < events.size() && !match(events[from])) {
        ++from;
    }
    return from;
}

// Every line whole, the file the same as the library's own copy, and each
// line stamped no earlier than the line before it.
void ExpectTranscriptWhole(const SimInstrument& sim)
{
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
    EXPECT_TRUE(inFile == text) << "the transcript file differs from the library's own copy from byte " << same << ":\n"
                                << inFile.substr(same, 200) << "\n---\n"
                                << text.substr(same, 200);
    const std::vector<WireEvent> events = ParseTranscript(text);
    for (std::size_t i = 1; i < events.size(); ++i) {
        ASSERT_GE(events[i].time, events[i - 1].time) << "line " << i + 1 << ": " << events[i].name;
    }
}

// The real clock, except that a wait on it lasts until `whileWaiting` has
// run: a silent read's wait then surely spans what that does.
class WaitingClock final : public Clock {
public:
    explicit WaitingClock(std::function<void()> whileWaiting) : whileWaiting_(std::move(whileWaiting)) {}

    void SleepUntil(std::chrono::microseconds deadline) override
    {
        whileWaiting_();
        SystemClock().SleepUntil(deadline);
    }
    std::chrono::microseconds Now() const override { return SystemClock().Now(); }

private:
    std::function<void()> whileWaiting_;
};

TEST(ThreadsTest, ASilentReplyHoldsUpOnlyItsOwnInstrument)
{
    const std::vector<std::string> busySerials = {"W0", "W1", "W2", "W3", "W4"};
    const std::string quiet = "QUIET";
    constexpr ViUInt32 kSilentTimeoutMs = 500;
    SimInstrument sim("serials=W0,W1,W2,W3,W4,QUIET\nQUIET.replies=none");
    VisaApi api(sim.LibraryPath());
    // One resource manager for all, opened before the threads share it.
    ASSERT_EQ(api.openDefaultRM(&api.rm), visa::VI_SUCCESS);

    std::atomic<bool> quietDone{false};
    std::atomic<bool> servedWhileWaiting{false};
    BusyInstruments* busyOnes = nullptr;
    // The silent read waits, without the library's lock, until every busy
    // instrument has been updated twice more: were it holding them up, they
    // could not be.
    WaitingClock clock([&] { servedWhileWaiting = busyOnes->AwaitRounds(busyOnes->Rounds(), 2); });
    sim.UseClock(clock);
    BusyInstruments busy(api, busySerials, 1);
    busyOnes = &busy;
    ViStatus silentRead = visa::VI_SUCCESS;
    ViUInt32 silentBytes = 99;
    std::thread quietThread([&] {
        busy.StartTogether();
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
    quietThread.join();
    busy.Stop();
    sim.UseSystemClock();
    EXPECT_EQ(silentRead, visa::VI_ERROR_TMO);
    EXPECT_EQ(silentBytes, 0U);
    EXPECT_TRUE(servedWhileWaiting) << "the busy instruments were not served while the silent read waited";
    ExpectTranscriptWhole(sim);

    // The silent read is stamped when it began and its session waits out
    // the timeout; every other instrument finished images in between.
    const std::vector<WireEvent> events = sim.Transcript();
    const std::size_t read =
        FindEvent(events, 0, [&](const WireEvent& e) { return e.name == "viRead" && e.Field("serial") == quiet; });
    const std::size_t next =
        FindEvent(events, read + 1, [&](const WireEvent& e) { return e.Field("serial") == quiet; });
    ASSERT_LT(next, events.size()) << sim.TranscriptText();
    EXPECT_EQ(events[read].Field("timeout_ms"), std::to_string(kSilentTimeoutMs));
    EXPECT_GE(events[next].time, events[read].time + kSilentTimeoutMs * 1000ULL)
        << "the silent read did not wait out its timeout";
    for (const auto& [serial, images] : busy.ImagesBetween(events, read, next)) {
        EXPECT_GE(images, 1U) << serial << " was held up by the silent read";
    }
    busy.ExpectServedAsSent(sim);
    EXPECT_EQ(api.close(api.rm), visa::VI_SUCCESS);
}

TEST(ThreadsTest, AHeldWriteHoldsUpOnlyItsOwnInstrument)
{
    const std::vector<std::string> busySerials = {"W0", "W1", "W2"};
    const std::string gated = "GATED";
    SimInstrument sim;
    const WriteGates gates(sim.Directory() + "/gates");
    ASSERT_TRUE(sim.Configure("serials=W0,W1,W2,GATED\n" + gates.ConfigLine()));
    gates.HoldAfter(gated, 64);  // the first piece goes, the second waits
    VisaApi api(sim.LibraryPath());
    ASSERT_EQ(api.openDefaultRM(&api.rm), visa::VI_SUCCESS);

    BusyInstruments busy(api, busySerials);
    const std::string first(64, 'g');
    const std::string second(64, 'h');
    std::vector<ViStatus> statuses;
    std::string status;
    std::thread gatedThread([&] {
        const ViSession vi = api.OpenSerial(gated);
        for (const std::string& bytes : {std::string("system:update\n"), first, second, kEndFrame}) {
            statuses.push_back(api.WriteText(vi, bytes));
        }
        statuses.push_back(api.ReadText(vi, status));
        statuses.push_back(api.close(vi));
    });
    // Held: the busy instruments are updated twice more meanwhile, and the
    // held write has not gone out.
    const auto held = AwaitTranscript(sim.TranscriptPath(), [&](const std::vector<WireEvent>& events) {
        return !HeldWrites(events, gated).empty();
    });
    const bool served = busy.AwaitRounds(busy.Rounds(), 2);
    const std::vector<std::vector<std::uint8_t>> whileHeld = sim.Writes(gated);
    gates.Release(gated);
    gatedThread.join();
    busy.Stop();

    ASSERT_EQ(HeldWrites(held, gated).size(), 1U) << "the second piece was never held";
    EXPECT_TRUE(served) << "the busy instruments were not served while a write was held";
    EXPECT_EQ(HeldWrites(held, gated).front().Field("bytes"), "64");
    ASSERT_EQ(whileHeld.size(), 2U) << "only system:update and the first piece before the gate opens";
    EXPECT_EQ(whileHeld[1], BytesOf(first));
    EXPECT_EQ(statuses, (std::vector<ViStatus>(6, visa::VI_SUCCESS)));
    EXPECT_EQ(status, "0");
    ExpectTranscriptWhole(sim);

    // Held once, then written whole: the image has both pieces, and every
    // other instrument finished images between the hold and the write.
    const std::vector<WireEvent> events = sim.Transcript();
    const std::size_t hold = FindEvent(events, 0, [](const WireEvent& e) { return e.name == "held"; });
    const std::size_t write =
        FindEvent(events, hold, [&](const WireEvent& e) { return e.name == "viWrite" && e.Field("serial") == gated; });
    ASSERT_LT(write, events.size()) << sim.TranscriptText();
    EXPECT_EQ(events[write].bytes, BytesOf(second));
    EXPECT_EQ(HeldWrites(events, gated).size(), 1U);
    for (const auto& [serial, images] : busy.ImagesBetween(events, hold, write)) {
        EXPECT_GE(images, 1U) << serial << " was held up by another instrument's held write";
    }
    const std::vector<WireEvent> own = sim.Transcript(gated);
    const std::size_t image = FindEvent(own, 0, [](const WireEvent& e) { return e.name == "image"; });
    ASSERT_LT(image, own.size());
    EXPECT_EQ(own[image].Field("size"), "128");
    busy.ExpectServedAsSent(sim);
    EXPECT_EQ(api.close(api.rm), visa::VI_SUCCESS);
}

}  // namespace
}  // namespace meterload::testing

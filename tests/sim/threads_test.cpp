// A client may call the library from several threads at once, as a real VISA
// library allows: sessions opened and closed and instruments queried in
// parallel must neither crash the simulator nor mix up its answers.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace meterload::testing

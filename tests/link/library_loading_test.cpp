// The VISA library found by name through the system's search, and unloaded
// again by every Close. Runs with nobody else holding the library, so that a
// load and an unload really happen each time; the simulated instrument writes
// them into the transcript file named by ZQSIM_TRANSCRIPT.
#include "link/instrument_connection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace meterload {
namespace {

std::vector<std::string> LoadEvents(const std::string& path)
{
    std::vector<std::string> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find(' ');
        const auto second = line.find(' ', first + 1);
        const std::string name =
            line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (name == "load" || name == "unload") {
            events.push_back(name);
        }
    }
    return events;
}

TEST(LibraryLoading, FoundByTheSystemSearchAndUnloadedByEveryCloseOrDestruction)
{
    const char* transcript = std::getenv("ZQSIM_TRANSCRIPT");
    ASSERT_NE(transcript, nullptr) << "the test runs with ZQSIM_TRANSCRIPT set";
    std::remove(transcript);

    for (int round = 0; round < 2; ++round) {
        InstrumentConnection connection(SystemClock());
        connection.Open();
        ASSERT_EQ(connection.FoundCount(), 1u) << connection.Diagnostic();
        EXPECT_EQ(connection.SerialNumber(), "ABC123");
        EXPECT_EQ(connection.Write("L0\n", 3), 3u);
        connection.Close();
        EXPECT_EQ(connection.Write("L0\n", 3), 0u);
    }
    {
        // A connection destroyed while still open lets the library go too.
        InstrumentConnection connection(SystemClock());
        connection.Open();
        ASSERT_EQ(connection.FoundCount(), 1u) << connection.Diagnostic();
    }
    EXPECT_EQ(LoadEvents(transcript), (std::vector<std::string>{"load", "unload", "load", "unload", "load", "unload"}));
}

// Run with a search path that decides which library the default name binds.
TEST(LibraryLoading, DefaultNameFindsTheInstrument)
{
    InstrumentConnection connection(SystemClock());
    connection.Open();
    ASSERT_EQ(connection.FoundCount(), 1u) << connection.Diagnostic();
    EXPECT_EQ(connection.SerialNumber(), "ABC123");
    connection.Close();
}

TEST(LibraryLoading, NoLibraryMeansNoInstrument)
{
    InstrumentConnection connection(SystemClock(), "meterload-no-such-visa-library");
    connection.Open();
    EXPECT_EQ(connection.FoundCount(), 0u);
    EXPECT_FALSE(connection.IsOpen());
    connection.Close();
}

}  // namespace
}  // namespace meterload

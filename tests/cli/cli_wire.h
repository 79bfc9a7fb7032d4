// What crossed the wire in a run of the real program, instrument by
// instrument, and the same update run by the dialog on an instrument alone
// (on virtual time), to compare them with.
#pragma once

#include "tests/support/transcript.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace meterload::testing {

// One write's or one read's bytes, with the time since the one before it on
// the same instrument.
struct Exchange {
    std::string what;
    std::chrono::microseconds gap;
};

// Every write and read of the transcript, in order.
std::vector<Exchange> ExchangeOf(const std::vector<WireEvent>& events);

// The writes and reads of each instrument, by its serial number: a session
// belongs to the instrument whose resource it was opened with.
std::map<std::string, std::vector<Exchange>> ExchangesBySerial(const std::vector<WireEvent>& events);

// The dialog's update of `path` on the one instrument `config` attaches
// (the simulator's configuration), on virtual time: its transcript.
std::vector<WireEvent> DialogUpdateAlone(const std::string& path, const std::string& config);

// Asserts that `actual` is `alone` write for write and read for read, and
// that no pause was shorter (a millisecond of timer grain allowed).
void ExpectSameExchange(const std::vector<Exchange>& actual, const std::vector<Exchange>& alone,
                        const std::string& who);

// For a transfer to `serial` held at its write gate twice (at `firstHold`
// and `secondHold` image bytes), with Ctrl+C pressed once while held each
// time, then let go: asserts from the order of the events on the wire that
// after the first press the transfer went on, exactly up to the second hold,
// and that after the second only the write already under way went out and
// nothing else did, not even the EndFrame or a PadCommand.
void ExpectStoppedAfterTheWriteInFlight(const std::vector<WireEvent>& events, const std::string& serial,
                                        std::uint64_t firstHold, std::uint64_t secondHold);

}  // namespace meterload::testing

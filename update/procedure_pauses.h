// Every pause the update procedures make, in one place: the procedures sleep
// them and the duration estimate adds them up.
#pragma once

#include "link/instrument_connection.h"

#include <chrono>

namespace meterload::pauses {

using std::chrono::milliseconds;

// After every write, made by the connection itself.
inline constexpr milliseconds kWrite = InstrumentConnection::kWritePause;
// After "L0\n" and "*idn?\n".
inline constexpr milliseconds kCommand{30};

// The dialog's waits, each a number of 100 ms steps with the window pumped between.
inline constexpr milliseconds kPumpStep{100};
inline constexpr int kImageSettleSteps = 20;  // twice: after "system:update\n", and before the data
inline constexpr int kImageReplySteps = 10;   // before each reply

// The single image's data writes.
inline constexpr milliseconds kImageChunk{5};

// The package update: its settle in 100 ms rounds, its chunk pauses and its
// waits for the replies.
inline constexpr int kPackageSettleRounds = 40;
inline constexpr milliseconds kEntryChunk{20};  // entries 2 .. entry count
inline constexpr milliseconds kLeadChunk{10};   // entry 1
inline constexpr milliseconds kHeaderSkip{10};  // after entry 1's header is read
inline constexpr milliseconds kEntryReply{2000};
inline constexpr milliseconds kLeadReply{1000};

}  // namespace meterload::pauses

// The simulated instruments' write gates (see "Write gates" in sim/README.md),
// in a folder of the test's own: a test holds a program's image data at a
// known byte, waits for the transcript to show it held, acts, and lets it go
// on.
#pragma once

#include "tests/support/transcript.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace meterload::testing {

class WriteGates {
public:
    // Creates the folder.
    explicit WriteGates(std::string folder);

    // The simulator's configuration line that uses these gates.
    std::string ConfigLine() const { return "write_gates=" + folder_ + "\n"; }
    // Lets `serial`'s image data through up to `bytes` since update mode
    // began; the write that would carry more waits. Only ever raise it.
    void HoldAfter(const std::string& serial, std::uint64_t bytes) const;
    // Lets every write of `serial` through.
    void Release(const std::string& serial) const;

private:
    std::string PathOf(const std::string& serial) const { return folder_ + "/" + serial; }

    std::string folder_;
};

// Reads the transcript file at `path` until its whole lines satisfy `done`,
// or `limit` has passed; the events read last either way.
std::vector<WireEvent> AwaitTranscript(const std::string& path,
                                       const std::function<bool(const std::vector<WireEvent>&)>& done,
                                       std::chrono::seconds limit = std::chrono::seconds(60));

// The `held` events of `serial` in `events`.
std::vector<WireEvent> HeldWrites(const std::vector<WireEvent>& events, const std::string& serial);

}  // namespace meterload::testing

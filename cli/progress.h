// The transfer's progress on standard error: on a terminal one line redrawn
// in place, otherwise a line at each tenth, which a log keeps.
#pragma once

#include "cli/console.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace meterload::cli {

class Progress {
public:
    // `sizes`: the bytes of each image, in the order they are sent.
    Progress(Console& console, bool terminal, std::vector<std::uint64_t> sizes);

    // Before each data write: the first one starts the clock for the rate.
    void Begin();
    // After each data write, with the count it sent.
    void Add(std::uint32_t count);
    // The transfer is over, whatever its outcome.
    void Finish();

private:
    using Steady = std::chrono::steady_clock;

    std::string Figures() const;
    std::size_t Image() const;  // which image is being sent, from 0

    Console& console_;
    bool terminal_;
    std::vector<std::uint64_t> sizes_;
    std::uint64_t total_ = 0;
    std::uint64_t sent_ = 0;
    int tenthsShown_ = 0;
    bool started_ = false;
    Steady::time_point start_;
    Steady::time_point drawn_;
};

}  // namespace meterload::cli

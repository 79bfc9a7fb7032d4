// The transfer's progress on standard error: on a terminal one line redrawn
// in place, otherwise a line at each tenth, which a log keeps. With several
// instruments at once, each has a row of the console's board on a terminal
// (its serial number, what it is doing, and the figures), and otherwise its
// plain lines start with its serial number.
#pragma once

#include "cli/console.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meterload::cli {

class Progress {
public:
    // `sizes`: the bytes of each image, in the order they are sent.
    Progress(Console& console, bool terminal, std::vector<std::uint64_t> sizes);
    // One of several instruments: `row` of the board, named `label`.
    Progress(Console& console, bool terminal, std::vector<std::uint64_t> sizes, std::size_t row, std::string label);

    // What the instrument is doing, for its row of the board.
    void Phase(const std::string& phase);

    // Before each data write: the first one starts the clock for the rate.
    void Begin();
    // After each data write, with the count it sent.
    void Add(std::uint32_t count);
    // The transfer is over, whatever its outcome.
    void Finish();

private:
    using Steady = std::chrono::steady_clock;

    // "240 of 1481 bytes, image 1 of 2", with `withRate` also the rate and the time left.
    std::string Figures(bool withRate) const;
    std::size_t Image() const;  // which image is being sent, from 0
    int Percent() const;
    void DrawRow(bool now);

    Console& console_;
    bool terminal_;
    std::vector<std::uint64_t> sizes_;
    std::optional<std::size_t> row_;
    std::string label_;
    std::string phase_;
    std::uint64_t total_ = 0;
    std::uint64_t sent_ = 0;
    int tenthsShown_ = 0;
    bool started_ = false;
    Steady::time_point start_;
    Steady::time_point drawn_;
};

}  // namespace meterload::cli

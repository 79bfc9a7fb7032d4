#include "cli/progress.h"

#include "cli/table_text.h"

#include <cstdio>

namespace meterload::cli {
namespace {

constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarCells = 24;

std::string Clock(double seconds)
{
    const auto whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

Progress::Progress(Console& console, bool terminal, std::vector<std::uint64_t> sizes)
    : console_(console), terminal_(terminal), sizes_(std::move(sizes))
{
    for (const std::uint64_t size : sizes_) {
        total_ += size;
    }
}

Progress::Progress(Console& console, bool terminal, std::vector<std::uint64_t> sizes, std::size_t row,
                   std::string label)
    : Progress(console, terminal, std::move(sizes))
{
    row_ = row;
    label_ = std::move(label);
}

void Progress::Phase(const std::string& phase)
{
    if (row_ && phase != phase_) {
        phase_ = phase;
        DrawRow(true);
    }
}

int Progress::Percent() const
{
    return total_ == 0 ? 100 : static_cast<int>(sent_ * 100 / total_);
}

void Progress::DrawRow(bool now)
{
    std::string text = Cell(label_, 12) + Cell(phase_, 23);
    if (started_) {
        // The rate and the time left only while it sends.
        text += Cell(std::to_string(Percent()) + "%", 5) + Figures(sent_ < total_ && phase_ == "sending");
    }
    console_.Row(*row_, text, now);
}

std::size_t Progress::Image() const
{
    std::uint64_t end = 0;
    for (std::size_t i = 0; i < sizes_.size(); ++i) {
        end += sizes_[i];
        if (sent_ < end) {
            return i;
        }
    }
    return sizes_.empty() ? 0 : sizes_.size() - 1;
}

std::string Progress::Figures(bool withRate) const
{
    std::string text = std::to_string(sent_) + " of " + std::to_string(total_) + " bytes";
    if (sizes_.size() > 1) {
        text += ", image " + std::to_string(Image() + 1) + " of " + std::to_string(sizes_.size());
    }
    const double elapsed = std::chrono::duration<double>(Steady::now() - start_).count();
    if (withRate && elapsed > 0.0 && sent_ > 0) {
        const double rate = static_cast<double>(sent_) / elapsed;
        char figures[64];
        std::snprintf(figures, sizeof figures, ", %.1f KiB/s", rate / 1024.0);
        text += figures;
        text += ", " + Clock(static_cast<double>(total_ - sent_) / rate) + " left";
    }
    return text;
}

void Progress::Begin()
{
    if (!started_) {
        started_ = true;
        start_ = Steady::now();
        if (row_) {
            phase_ = "sending";
            DrawRow(true);
        }
    }
}

void Progress::Add(std::uint32_t count)
{
    Begin();
    sent_ += count;
    const int percent = Percent();
    if (row_ && terminal_) {
        if (sent_ >= total_) {
            phase_ = "waiting for the reply";
        }
        DrawRow(sent_ >= total_);
        return;
    }
    if (terminal_) {
        const auto now = Steady::now();
        if (sent_ < total_ && now - drawn_ < kRedraw) {
            return;
        }
        drawn_ = now;
        const int filled = percent * kBarCells / 100;
        console_.Bar("[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarCells - filled), ' ') + "] " + std::to_string(percent) +
                     "%  " + Figures(true));
        return;
    }
    // Plain lines: one at each tenth reached.
    const int tenths = percent / 10;
    if (tenths > tenthsShown_) {
        tenthsShown_ = tenths;
        console_.Line((row_ ? label_ + ": " : std::string()) + "Sent " + std::to_string(tenths * 10) +
                      "%: " + Figures(true));
    }
}

void Progress::Finish()
{
    if (!row_) {
        console_.EndBar();
    }
}

}  // namespace meterload::cli

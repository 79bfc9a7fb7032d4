// Standard error as the command line uses it: message lines, and one
// progress line redrawn in place that a message line first ends.
#pragma once

#include <string>
#include <vector>

namespace meterload::cli {

class Console {
public:
    // Prints `text` on a line of its own.
    void Line(const std::string& text);
    // Redraws the progress line.
    void Bar(const std::string& text);
    // Leaves the progress line as it stands and goes to the next line.
    void EndBar();

private:
    std::size_t barWidth_ = 0;
    bool barOpen_ = false;
};

// The process's one console.
Console& TheConsole();

// Lines of the dialog's texts joined into one message line.
std::string OneLine(const std::vector<std::string>& lines);

// `text` with every byte that is not printable ASCII written as a C escape.
std::string Printable(const std::string& text);

}  // namespace meterload::cli

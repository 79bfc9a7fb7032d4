// Standard error as the command line uses it: message lines, one progress
// line redrawn in place that a message line first ends, and for several
// instruments at once a board of progress lines redrawn together. Safe to
// call from several threads: every line goes out whole.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace meterload::cli {

class Console {
public:
    // Prints `text` on a line of its own (above the board while one is shown).
    void Line(const std::string& text);
    // Redraws the progress line.
    void Bar(const std::string& text);
    // Leaves the progress line as it stands and goes to the next line.
    void EndBar();

    // A board of `rows` lines at the bottom, redrawn together with cursor
    // movement; without `cursor` its rows are kept but never drawn.
    void StartBoard(std::size_t rows, bool cursor, std::size_t columns);
    // Sets one row; the board is redrawn at most ten times a second unless `now`.
    void Row(std::size_t row, const std::string& text, bool now);
    // Draws the board a last time and leaves it above what follows.
    void EndBoard();

    // A question at the end of the output, without a line end; the board is
    // taken away meanwhile and drawn afresh below the answer.
    void Prompt(const std::string& text);

private:
    void EndBarLocked();
    std::string EraseBoard();
    std::string BoardText() const;
    void Put(const std::string& text);

    std::mutex mutex_;
    std::size_t barWidth_ = 0;
    bool barOpen_ = false;

    bool boardCursor_ = false;
    std::size_t columns_ = 80;
    std::vector<std::string> rows_;
    std::size_t drawnRows_ = 0;  // board lines on the screen right above the cursor
    std::chrono::steady_clock::time_point drawn_;
};

// The process's one console.
Console& TheConsole();

// Lines of the dialog's texts joined into one message line.
std::string OneLine(const std::vector<std::string>& lines);

// The instrument's versions field as shown to a person: without the line end
// it comes with, made printable.
std::string VersionFieldText(std::string field);

// `text` as the user typed it (a Windows path keeps its single backslashes,
// letters of any script stay), with control characters and bytes that are
// not UTF-8 written as C escapes.
std::string Printable(const std::string& text);

}  // namespace meterload::cli

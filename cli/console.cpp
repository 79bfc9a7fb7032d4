#include "cli/console.h"

#include <cstdio>

namespace meterload::cli {

namespace {

constexpr auto kBoardRedraw = std::chrono::milliseconds(100);

}  // namespace

void Console::Put(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void Console::Line(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    EndBarLocked();
    if (drawnRows_ == 0) {
        Put(text + "\n");
        return;
    }
    Put(EraseBoard() + text + "\n" + BoardText());
    drawnRows_ = rows_.size();
}

void Console::Bar(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    // Blanks over what a longer previous line left.
    std::string line = text;
    if (line.size() < barWidth_) {
        line.append(barWidth_ - line.size(), ' ');
    }
    barWidth_ = text.size();
    barOpen_ = true;
    Put("\r" + line);
}

void Console::EndBar()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    EndBarLocked();
}

void Console::EndBarLocked()
{
    if (barOpen_) {
        Put("\n");
        barOpen_ = false;
        barWidth_ = 0;
    }
}

void Console::StartBoard(std::size_t rows, bool cursor, std::size_t columns)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    rows_.assign(rows, std::string());
    boardCursor_ = cursor;
    // A row that wraps would throw the cursor movement off by a line.
    columns_ = columns > 1 ? columns - 1 : 1;
    drawnRows_ = 0;
}

void Console::Row(std::size_t row, const std::string& text, bool now)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (row >= rows_.size()) {
        return;
    }
    rows_[row] = text;
    const auto time = std::chrono::steady_clock::now();
    if (!boardCursor_ || (!now && drawnRows_ > 0 && time - drawn_ < kBoardRedraw)) {
        return;
    }
    drawn_ = time;
    Put(EraseBoard() + BoardText());
    drawnRows_ = rows_.size();
}

void Console::EndBoard()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (boardCursor_) {
        Put(EraseBoard() + BoardText());
    }
    boardCursor_ = false;
    drawnRows_ = 0;
    rows_.clear();
}

void Console::Prompt(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    EndBarLocked();
    Put(EraseBoard() + text);
    drawnRows_ = 0;
}

std::string Console::EraseBoard()
{
    if (drawnRows_ == 0) {
        return std::string();
    }
    // Up to the board's first line, then clear from there to the end.
    const std::string up = "\r\x1b[" + std::to_string(drawnRows_) + "A\x1b[J";
    drawnRows_ = 0;
    return up;
}

std::string Console::BoardText() const
{
    std::string text;
    for (const std::string& row : rows_) {
        text += row.substr(0, columns_) + "\n";
    }
    return text;
}

Console& TheConsole()
{
    static Console console;
    return console;
}

std::string OneLine(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::string line : lines) {
        for (char& c : line) {
            c = c == '\n' ? ' ' : c;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        if (!line.empty()) {
            text += (text.empty() ? "" : " ") + line;
        }
    }
    return text;
}

namespace {

// The length of the well-formed UTF-8 sequence of a printable character
// beyond ASCII that starts at `at`, or 0.
std::size_t PrintableSequence(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    // Overlong forms, surrogates, beyond Unicode, and the C1 controls are
    // not shown as they are.
    const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF || code < 0xA0) {
        return 0;
    }
    return length;
}

}  // namespace

std::string VersionFieldText(std::string field)
{
    while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) {
        field.pop_back();
    }
    return Printable(field);
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        if (const std::size_t length = byte >= 0x80 ? PrintableSequence(text, at) : 0) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(byte));
            out += hex;
        } else {
            out += c;
        }
        ++at;
    }
    return out;
}

}  // namespace meterload::cli

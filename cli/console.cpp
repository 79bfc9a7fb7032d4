#include "cli/console.h"

#include <cstdio>

namespace meterload::cli {

void Console::Line(const std::string& text)
{
    EndBar();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void Console::Bar(const std::string& text)
{
    // Blanks over what a longer previous line left.
    std::string line = text;
    if (line.size() < barWidth_) {
        line.append(barWidth_ - line.size(), ' ');
    }
    barWidth_ = text.size();
    barOpen_ = true;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void Console::EndBar()
{
    if (barOpen_) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        barOpen_ = false;
        barWidth_ = 0;
    }
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

std::string Printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(byte));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace meterload::cli

#include "cli/terminal.h"

#include <windows.h>

#include <cstdio>
#include <io.h>
#include <iostream>

namespace meterload::cli {

bool StandardInputIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}
bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool StandardErrorTakesCursorMovement()
{
    // Consoles before Windows 10 refuse the mode: plain lines there.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!StandardErrorIsTerminal() || !GetConsoleMode(error, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    }
    return 80;
}

std::optional<std::string> ReadAnswerLine()
{
    // Ctrl+C ends a console read with nothing read.
    std::string line;
    if (!std::getline(std::cin, line)) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace meterload::cli

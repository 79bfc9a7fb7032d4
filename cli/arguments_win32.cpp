#include "cli/arguments.h"

#include "platform/wide_text_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace meterload::cli {
namespace {

// The console's own setting, put back at exit: it outlives the program.
UINT previousOutputPage = 0;

void RestoreOutputPage()
{
    SetConsoleOutputCP(previousOutputPage);
}

}  // namespace

void UseUtf8CommandLine(int& argc, char**& argv)
{
    // argv points into these for the rest of the process.
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;

    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        texts.clear();
        for (int i = 0; i < count; ++i) {
            texts.push_back(Utf8Text(wide[i], std::wcslen(wide[i])));
        }
        LocalFree(wide);
        pointers.clear();
        for (std::string& text : texts) {
            pointers.push_back(text.data());
        }
        pointers.push_back(nullptr);
        argc = count;
        argv = pointers.data();
    }

    // Zero without a console: output to a file or a pipe is UTF-8 anyway.
    const UINT page = GetConsoleOutputCP();
    if (page != 0 && page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        previousOutputPage = page;
        std::atexit(&RestoreOutputPage);
    }
}

}  // namespace meterload::cli

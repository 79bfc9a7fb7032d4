// The command line's texts as UTF-8, whatever the system's code page.
#pragma once

namespace meterload::cli {

// On Windows, puts the UTF-8 form of the wide command line in place of
// argc/argv (the narrow one has every character outside the code page
// replaced by "?") and has the console show the program's UTF-8 output,
// as it was before the program exits. Elsewhere the arguments already are
// the bytes that were typed, and nothing changes.
void UseUtf8CommandLine(int& argc, char**& argv);

}  // namespace meterload::cli

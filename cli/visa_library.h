// Which VISA library the command line binds: the one named by --visa-library
// or METERLOAD_VISA_LIBRARY, else the platform's name through the system's
// search, else the files that the common VISA implementations install, else
// (on Linux) our own USB transport, installed or built beside the program.
#pragma once

#include <string>
#include <vector>

namespace meterload::cli {

struct VisaLibraryChoice {
    std::string library;             // what the connections bind
    std::string source;              // how it was chosen, for info
    std::vector<std::string> tried;  // every place looked at, in order
    bool builtInTransport = false;   // no VISA library was found: our USB transport stands in
};

constexpr const char* kBuiltInTransportSource = "built-in USB transport, no VISA library found";

VisaLibraryChoice ChooseVisaLibrary(const std::string& option);

// The names the system's search is asked for after the platform's own, and
// the files looked for after them. Platform specific.
std::vector<std::string> KnownVisaLibraryNames();
std::vector<std::string> KnownVisaLibraryFiles();
// Where our USB transport library may be, relative to the running program:
// the installed layout, then the build tree. Platform specific.
std::vector<std::string> BuiltInTransportFiles();

}  // namespace meterload::cli

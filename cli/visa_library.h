// Which VISA library the command line binds: the one named by --visa-library
// or METERLOAD_VISA_LIBRARY, else the platform's name through the system's
// search, else the files that the common VISA implementations install.
#pragma once

#include <string>
#include <vector>

namespace meterload::cli {

struct VisaLibraryChoice {
    std::string library;             // what the connections bind
    std::string source;              // how it was chosen, for info
    std::vector<std::string> tried;  // every place looked at, in order
};

VisaLibraryChoice ChooseVisaLibrary(const std::string& option);

// The names the system's search is asked for after the platform's own, and
// the files looked for after them. Platform specific.
std::vector<std::string> KnownVisaLibraryNames();
std::vector<std::string> KnownVisaLibraryFiles();

}  // namespace meterload::cli

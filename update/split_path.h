// Cutting a full path into its directory part and its file name.
#pragma once

#include <string>

namespace meterload {

struct PathParts {
    std::string directory;  // up to and including the last separator
    std::string fileName;   // everything after it
};

// Separators are the backslash and, for paths that did not come from the
// Windows file dialog, the slash. A path without either is all file name.
PathParts SplitPath(const std::string& path);

}  // namespace meterload

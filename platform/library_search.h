// Where libraries loaded by name may come from.
#pragma once

namespace meterload {

// Takes the current directory out of the library search for the rest of the
// process, so that a VISA library lying in a downloaded firmware folder, or
// in the folder the program was started from, is never loaded. The program's
// own folder and the system folders stay. Called first thing at start-up,
// before any library is loaded; nothing to do where the search never looks
// in the current directory.
void RestrictLibrarySearch();

}  // namespace meterload

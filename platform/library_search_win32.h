// Windows only: whether the loader takes the LOAD_LIBRARY_SEARCH_* flags.
#pragma once

namespace meterload {

bool LibrarySearchFlagsSupported();

}  // namespace meterload

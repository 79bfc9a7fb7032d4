// The dynamic loader never looks in the current directory for a bare name.
#include "platform/library_search.h"

namespace meterload {

void RestrictLibrarySearch() {}

}  // namespace meterload

#include "tests/update/library_tracking.h"

#if defined(__linux__)

#include <dlfcn.h>

#include <mutex>
#include <set>

namespace meterload::testing {
namespace {

struct Tracker {
    std::mutex mutex;
    std::string path;
    std::multiset<void*> handles;
    int held = 0;
    int mostHeld = 0;
};

Tracker& TheTracker()
{
    static Tracker tracker;
    return tracker;
}

using OpenFn = void* (*)(const char*, int);
using CloseFn = int (*)(void*);

OpenFn RealOpen()
{
    return reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "dlopen"));
}
CloseFn RealClose()
{
    return reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "dlclose"));
}

}  // namespace

bool LibraryTracking::Supported()
{
    return true;
}

void LibraryTracking::Watch(const std::string& path)
{
    Tracker& t = TheTracker();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.path = path;
    t.handles.clear();
    t.held = 0;
    t.mostHeld = 0;
}

int LibraryTracking::Held()
{
    Tracker& t = TheTracker();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.held;
}

int LibraryTracking::MostHeld()
{
    Tracker& t = TheTracker();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.mostHeld;
}

}  // namespace meterload::testing

// The executable's own definitions take the place of the C library's for
// every call made from the code linked into it.
extern "C" void* dlopen(const char* file, int mode)
{
    using meterload::testing::TheTracker;
    void* handle = meterload::testing::RealOpen()(file, mode);
    auto& t = TheTracker();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (handle != nullptr && file != nullptr && !t.path.empty() && t.path == file) {
        t.handles.insert(handle);
        t.held += 1;
        t.mostHeld = std::max(t.mostHeld, t.held);
    }
    return handle;
}

extern "C" int dlclose(void* handle)
{
    using meterload::testing::TheTracker;
    {
        auto& t = TheTracker();
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto found = t.handles.find(handle);
        if (found != t.handles.end()) {
            t.handles.erase(found);
            t.held -= 1;
        }
    }
    return meterload::testing::RealClose()(handle);
}

#else

namespace meterload::testing {
bool LibraryTracking::Supported()
{
    return false;
}
void LibraryTracking::Watch(const std::string&) {}
int LibraryTracking::Held()
{
    return 0;
}
int LibraryTracking::MostHeld()
{
    return 0;
}
}  // namespace meterload::testing

#endif

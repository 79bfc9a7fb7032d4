// Counts how often the test process holds the simulator library, so that
// tests can check that every connection unloads it on every way out and that
// no two connections hold it at once. Works where the loader calls can be
// watched (Linux); elsewhere Supported() is false.
#pragma once

#include <string>

namespace meterload::testing {

class LibraryTracking {
public:
    static bool Supported();
    // Starts counting loads and unloads of `path` from now on.
    static void Watch(const std::string& path);
    // Loads minus unloads since Watch.
    static int Held();
    // The highest Held() since Watch.
    static int MostHeld();
};

}  // namespace meterload::testing

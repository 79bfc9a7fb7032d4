// The application object: sets up the common controls and runs the main
// dialog; the program ends when the dialog does.
#pragma once

#include <windows.h>

namespace meterload {

class UpdaterApp {
public:
    // False, always: there is nothing to run once the dialog has ended.
    bool InitInstance(HINSTANCE instance);

    // The whole program; returns the process's exit code.
    int Run(HINSTANCE instance);
};

extern UpdaterApp theApp;

}  // namespace meterload

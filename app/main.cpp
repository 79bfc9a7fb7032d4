// Entry point of meterload.exe.
#include "app/updater_app.h"
#include "platform/library_search.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything loads a library: the file dialog moves the current
    // directory into the firmware's folder.
    meterload::RestrictLibrarySearch();
    return meterload::theApp.Run(instance);
}

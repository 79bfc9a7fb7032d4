// Entry point of meterload.exe.
#include "app/updater_app.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return meterload::theApp.Run(instance);
}

#include "app/updater_app.h"

#include "app/update_dialog.h"

#include <commctrl.h>

namespace meterload {

UpdaterApp theApp;

bool UpdaterApp::InitInstance(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    UpdateDialog dialog(instance);
    dialog.DoModal();
    return false;
}

int UpdaterApp::Run(HINSTANCE instance) {
    InitInstance(instance);
    return 0;
}

}  // namespace meterload

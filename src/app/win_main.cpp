// The process entry of the Windows program: hands control to the static
// application object (see win_app.h).
#include <windows.h>

#include "app/win_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    WinApp* app = WinApp::current();
    if (app == nullptr) {
        return 1;  // linked without an application object
    }
    return app->run(instance, commandLine);
}

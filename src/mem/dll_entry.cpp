// The Windows module's load and unload notification: nothing to set up or
// tear down. Exported by the module definition file under its plain name.
#include <windows.h>

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

// The C runtime's start-up code hands the loader's notifications to DllMain.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(instance, reason, reserved);
}

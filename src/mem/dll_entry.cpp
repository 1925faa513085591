// The Windows module's load and unload notification: nothing to set up or
// tear down. The loader reaches it through the module's entry (the runtime's
// start-up code, then DllMain); the module exports VANTU_DLL_Init alone.
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

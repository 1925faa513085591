/*
 * A small 32-bit Windows DLL through which the loader tests see what Windows
 * code sees: its pointer tables after relocation and the order of its TLS
 * callback and entry point.
 */
#include <windows.h>

#define PROBE_EXPORT __declspec(dllexport)

/* Pointers in initialized data: each one needs a base relocation. */
static const char *const kWords[] = {"zero", "one", "two"};

PROBE_EXPORT const char *probe_word(int i) { return i >= 0 && i < 3 ? kWords[i] : 0; }

/* Notifications, in the order they arrive: 100 + reason from the TLS callback,
 * 200 + reason from DllMain. After probe_log_detach_to they go to the host. */
static int g_events[8];
static int g_count;
static int *g_host_log;

static void record(int event) {
    if (g_host_log != 0)
        *g_host_log++ = event;
    else if (g_count < 8)
        g_events[g_count++] = event;
}

static void NTAPI tls_callback(PVOID module, DWORD reason, PVOID reserved) {
    (void)module;
    (void)reserved;
    record(100 + (int)reason);
}

/* Placed before the runtime's own callbacks in the TLS callback array. */
__attribute__((used, section(".CRT$XLB"))) PIMAGE_TLS_CALLBACK probe_tls_callback = tls_callback;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reserved;
    record(200 + (int)reason);
    return TRUE;
}

PROBE_EXPORT int probe_events(int *out, int capacity) {
    for (int i = 0; i < g_count && i < capacity; ++i)
        out[i] = g_events[i];
    return g_count;
}

PROBE_EXPORT void probe_log_detach_to(int *log) { g_host_log = log; }

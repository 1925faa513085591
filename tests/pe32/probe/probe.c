/*
 * A small 32-bit Windows DLL through which the loader tests see what Windows
 * code sees: its pointer tables after relocation, the order of its TLS
 * callback and entry point, its thread environment block through %fs, its
 * thread-local data, and module lookups made from inside.
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

/* Thread-local data: the loader copies this into every thread's TLS block. */
__attribute__((section(".tls$AAB"))) int probe_tls_value = 0x5EED;
extern char _tls_start;
extern ULONG _tls_index;

/* The TEB as the code reaches it, and this thread's copy of probe_tls_value. */
PROBE_EXPORT int probe_teb(void **self, void **stack_base, void **stack_limit) {
    NT_TIB *tib = (NT_TIB *)NtCurrentTeb();
    *self = tib->Self;
    *stack_base = tib->StackBase;
    *stack_limit = tib->StackLimit;
    char **blocks = (char **)__readfsdword(0x2C);
    return *(int *)(blocks[_tls_index] + ((char *)&probe_tls_value - &_tls_start));
}

PROBE_EXPORT HMODULE probe_module_handle(const char *name) { return GetModuleHandleA(name); }
PROBE_EXPORT FARPROC probe_proc(HMODULE module, const char *name) { return GetProcAddress(module, name); }
PROBE_EXPORT DWORD probe_last_error(void) { return GetLastError(); }

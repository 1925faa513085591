/*
 * Shared between the loader and its shims: the few Win32 types and constants
 * they use, the shim tables, and the loader services that KERNEL32's module,
 * memory and thread functions need.
 */
#ifndef PE_INTERNAL_H
#define PE_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#if !defined(__i386__)
#error "the PE loader runs 32-bit x86 Windows code and must itself be built for 32-bit x86"
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define WINAPI __attribute__((stdcall))

typedef int BOOL;
typedef uint32_t DWORD;
typedef void *HANDLE;
typedef void *HMODULE;

enum {
    DLL_PROCESS_DETACH = 0,
    DLL_PROCESS_ATTACH = 1,
};

/* Wait results and time-outs. */
#define PE_INFINITE 0xFFFFFFFFu
#define PE_WAIT_OBJECT_0 0x00000000u
#define PE_WAIT_ABANDONED 0x00000080u
#define PE_WAIT_TIMEOUT 0x00000102u
#define PE_WAIT_FAILED 0xFFFFFFFFu

/* GetLastError codes the shims set. */
enum {
    PE_ERROR_SUCCESS = 0,
    PE_ERROR_INVALID_HANDLE = 6,
    PE_ERROR_NOT_SUPPORTED = 50,
    PE_ERROR_INVALID_PARAMETER = 87,
    PE_ERROR_INSUFFICIENT_BUFFER = 122,
    PE_ERROR_MOD_NOT_FOUND = 126,
    PE_ERROR_PROC_NOT_FOUND = 127,
    PE_ERROR_NOT_OWNER = 288,
    PE_ERROR_INVALID_ADDRESS = 487,
    PE_ERROR_NOACCESS = 998,
    PE_ERROR_NO_UNICODE_TRANSLATION = 1113,
    PE_ERROR_NO_SYSTEM_RESOURCES = 1450,
};

/* Page protections, as VirtualProtect and VirtualQuery speak of them. */
enum {
    PE_PAGE_NOACCESS = 0x01,
    PE_PAGE_READONLY = 0x02,
    PE_PAGE_READWRITE = 0x04,
    PE_PAGE_WRITECOPY = 0x08,
    PE_PAGE_EXECUTE = 0x10,
    PE_PAGE_EXECUTE_READ = 0x20,
    PE_PAGE_EXECUTE_READWRITE = 0x40,
    PE_PAGE_EXECUTE_WRITECOPY = 0x80,
};

/* MEMORY_BASIC_INFORMATION of a 32-bit process: seven 4-byte words. */
typedef struct PeMemoryInfo {
    void *BaseAddress;
    void *AllocationBase;
    DWORD AllocationProtect;
    DWORD RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
} PeMemoryInfo;
#define PE_MEM_COMMIT 0x1000u
#define PE_MEM_IMAGE 0x1000000u

/* ---- Shims ------------------------------------------------------------------ */

/* A function or data object offered to the DLL under its Windows name. */
struct pe_shim {
    const char *name;
    void *address;
};

/* A Windows DLL the loader stands in for. Its address serves as its HMODULE. */
struct pe_shim_dll {
    const char *name;
    const struct pe_shim *shims;
    size_t count;
};

extern const struct pe_shim_dll pe_kernel32_dll;
extern const struct pe_shim_dll pe_msvcrt_dll;

/* Whether a module file called `module_name` answers to `wanted`, as module
 * lookups match: any path is ignored (either slash), case too, and a name
 * without an extension means one ending in ".dll". */
int pe_name_matches(const char *module_name, const char *wanted);
/* The shim DLL called `name` (case-insensitive, ".dll" may be left out), or null. */
const struct pe_shim_dll *pe_find_shim_dll(const char *name);
/* The shim `name` of `dll` (case-sensitive, as Windows matches them), or null. */
void *pe_find_shim(const struct pe_shim_dll *dll, const char *name);
/* Shortcut for tests: the shim `name` of the DLL called `dll`, or null. */
void *pe_shim_address(const char *dll, const char *name);

/* The calling thread's last-error value, as GetLastError reports it. */
void pe_set_last_error(DWORD code);

/* When set, the heap calls of the loaded DLLs go through the tests: `allow`
 * is asked before each allocation (malloc, calloc, realloc) and a zero answer
 * fails it as exhausted memory does; `track` is told of each block that goes
 * (free, or realloc's old block) and each that comes. */
struct pe_heap_watch {
    int (*allow)(void);
    void (*track)(void *gone, void *came);
};
extern const struct pe_heap_watch *pe_heap_watch_now;

/* Told of every call of a module's entry point (its reason and its result)
 * when not null: the tests' view of the load and unload notifications. */
extern void (*pe_entry_observer)(void *module, DWORD reason, BOOL result);

/* Prints to stderr when PE_LOADER_TRACE is set. */
void pe_trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* ---- Loader services for KERNEL32 ---------------------------------------------- */

/* GetModuleHandleA: a loaded PE module or shim DLL by file name; null for none. */
HMODULE pe_module_handle(const char *name);
/* The pseudo module that GetModuleHandleA(NULL) returns: the host program. */
HMODULE pe_host_module(void);
/* GetProcAddress on any module handle; `name` may be an ordinal (below 0x10000). */
void *pe_module_proc(HMODULE module, const char *name, DWORD *error);
/* LoadLibraryA and FreeLibrary: counted references to modules. */
HMODULE pe_module_acquire(const char *name);
BOOL pe_module_release(HMODULE module);
/* VirtualQuery and VirtualProtect over the pages of the loaded images. */
size_t pe_image_query(const void *address, PeMemoryInfo *info);
BOOL pe_image_protect(void *address, size_t size, DWORD protect, DWORD *old_protect);

#ifdef __cplusplus
}
#endif

#endif

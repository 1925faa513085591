/*
 * KERNEL32.dll for the loaded DLL: every function it imports, __stdcall, with
 * the documented Win32 behaviour, results and GetLastError codes.
 *
 * Kernel objects are mutexes only (CreateMutexA is the one creator). Their
 * state lives under one lock with one condition variable on the monotonic
 * clock: a wait is a real wait, with its time-out. A thread that ends while
 * owning mutexes abandons them: a key destructor, which runs at every thread
 * exit that pthreads sees, hands each one to its next waiter with
 * WAIT_ABANDONED.
 */
#define _GNU_SOURCE
#include "pe_internal.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static __thread DWORD t_last_error;

void pe_set_last_error(DWORD code) { t_last_error = code; }

static DWORD WINAPI GetLastError_shim(void) { return t_last_error; }

/* ---- Threads ------------------------------------------------------------------------ */

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static pthread_key_t g_exit_key;
static pthread_mutex_t g_objects_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_objects_changed;
static void thread_exit(void *number);

static void init_once(void) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&g_objects_changed, &attr);
    pthread_condattr_destroy(&attr);
    pthread_key_create(&g_exit_key, thread_exit);
}

/* A number per thread that no later thread receives again (thread ids are
 * reused), so that no new thread takes itself for the owner that left. */
static uint32_t thread_number(void) {
    static uint32_t next = 0;
    static __thread uint32_t number = 0;
    if (number == 0) {
        pthread_once(&g_once, init_once);
        number = __atomic_add_fetch(&next, 1, __ATOMIC_RELAXED);
        pthread_setspecific(g_exit_key, (void *)(uintptr_t)number);
    }
    return number;
}

static void WINAPI Sleep_shim(DWORD ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    struct timespec t = {(time_t)(ms / 1000u), (long)(ms % 1000u) * 1000000L};
    if (ms == PE_INFINITE)
        t.tv_sec = (time_t)1 << 30;
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

/* ---- Mutex objects ------------------------------------------------------------------------ */

struct mutex_object {
    struct mutex_object *next; /* every live object, closed ones still waited on included */
    uint32_t owner;            /* thread number; 0 while free */
    uint32_t count;            /* the owner's acquisitions */
    int abandoned;             /* its owner ended owning it: the next wait reports it once */
    int waiters;
    int closed;
};

/* Handles are small multiples of 4, like Windows', indexing this table. */
#define MAX_HANDLES 1024
static struct mutex_object *g_handles[MAX_HANDLES];
static struct mutex_object *g_objects;

static struct mutex_object *object_of(HANDLE handle) {
    const uintptr_t value = (uintptr_t)handle;
    if (value == 0 || value % 4 != 0 || value / 4 > MAX_HANDLES)
        return NULL;
    return g_handles[value / 4 - 1];
}

static void free_object(struct mutex_object *object) {
    for (struct mutex_object **link = &g_objects; *link != NULL; link = &(*link)->next)
        if (*link == object) {
            *link = object->next;
            break;
        }
    free(object);
}

static void thread_exit(void *number) {
    pthread_mutex_lock(&g_objects_lock);
    for (struct mutex_object *o = g_objects; o != NULL; o = o->next)
        if (o->owner == (uint32_t)(uintptr_t)number) {
            o->owner = 0;
            o->count = 0;
            o->abandoned = 1;
            pe_trace("mutex %p abandoned by its owner", (void *)o);
        }
    pthread_cond_broadcast(&g_objects_changed);
    pthread_mutex_unlock(&g_objects_lock);
}

static HANDLE WINAPI CreateMutexA_shim(void *attributes, BOOL initial_owner, const char *name) {
    (void)attributes; /* only inheritance, which means nothing here */
    if (name != NULL) {
        fprintf(stderr, "pe: CreateMutexA(\"%s\"): named mutexes are not supported by the test loader\n", name);
        pe_set_last_error(PE_ERROR_NOT_SUPPORTED);
        return NULL;
    }
    const uint32_t me = thread_number();
    struct mutex_object *object = calloc(1, sizeof *object);
    if (object == NULL) {
        pe_set_last_error(PE_ERROR_NO_SYSTEM_RESOURCES);
        return NULL;
    }
    object->owner = initial_owner ? me : 0;
    object->count = initial_owner ? 1 : 0;
    pthread_mutex_lock(&g_objects_lock);
    size_t slot = 0;
    while (slot < MAX_HANDLES && g_handles[slot] != NULL)
        ++slot;
    if (slot < MAX_HANDLES) {
        g_handles[slot] = object;
        object->next = g_objects;
        g_objects = object;
    }
    pthread_mutex_unlock(&g_objects_lock);
    if (slot == MAX_HANDLES) {
        free(object);
        pe_set_last_error(PE_ERROR_NO_SYSTEM_RESOURCES);
        return NULL;
    }
    pe_set_last_error(PE_ERROR_SUCCESS);
    return (HANDLE)(uintptr_t)((slot + 1) * 4);
}

static DWORD WINAPI WaitForSingleObject_shim(HANDLE handle, DWORD ms) {
    const uint32_t me = thread_number();
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += (time_t)(ms / 1000u);
    deadline.tv_nsec += (long)(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_nsec -= 1000000000L;
        ++deadline.tv_sec;
    }
    pthread_mutex_lock(&g_objects_lock);
    struct mutex_object *object = object_of(handle);
    if (object == NULL) {
        pthread_mutex_unlock(&g_objects_lock);
        pe_set_last_error(PE_ERROR_INVALID_HANDLE);
        return PE_WAIT_FAILED;
    }
    ++object->waiters;
    DWORD result;
    for (;;) {
        if (object->owner == 0) {
            object->owner = me;
            object->count = 1;
            result = object->abandoned ? PE_WAIT_ABANDONED : PE_WAIT_OBJECT_0;
            object->abandoned = 0;
            break;
        }
        if (object->owner == me) {
            ++object->count;
            result = PE_WAIT_OBJECT_0;
            break;
        }
        int waited = 0;
        if (ms == PE_INFINITE)
            waited = pthread_cond_wait(&g_objects_changed, &g_objects_lock);
        else if (ms != 0)
            waited = pthread_cond_timedwait(&g_objects_changed, &g_objects_lock, &deadline);
        if ((ms == 0 || waited == ETIMEDOUT) && object->owner != 0) {
            result = PE_WAIT_TIMEOUT;
            break;
        }
    }
    if (--object->waiters == 0 && object->closed)
        free_object(object);
    pthread_mutex_unlock(&g_objects_lock);
    return result;
}

static BOOL WINAPI ReleaseMutex_shim(HANDLE handle) {
    const uint32_t me = thread_number();
    pthread_mutex_lock(&g_objects_lock);
    struct mutex_object *object = object_of(handle);
    DWORD error = PE_ERROR_SUCCESS;
    if (object == NULL)
        error = PE_ERROR_INVALID_HANDLE;
    else if (object->owner != me)
        error = PE_ERROR_NOT_OWNER;
    else if (--object->count == 0) {
        object->owner = 0;
        pthread_cond_broadcast(&g_objects_changed);
    }
    pthread_mutex_unlock(&g_objects_lock);
    if (error != PE_ERROR_SUCCESS)
        pe_set_last_error(error);
    return error == PE_ERROR_SUCCESS;
}

static BOOL WINAPI CloseHandle_shim(HANDLE handle) {
    pthread_mutex_lock(&g_objects_lock);
    struct mutex_object *object = object_of(handle);
    if (object != NULL) {
        g_handles[(uintptr_t)handle / 4 - 1] = NULL;
        object->closed = 1;
        if (object->waiters == 0)
            free_object(object);
    }
    pthread_mutex_unlock(&g_objects_lock);
    if (object == NULL)
        pe_set_last_error(PE_ERROR_INVALID_HANDLE);
    return object != NULL;
}

/* ---- Critical sections --------------------------------------------------------------------- */

/* CRITICAL_SECTION of a 32-bit process, 24 bytes the DLL owns. The lock
 * itself is a pthread mutex that LockSemaphore points to. */
typedef struct CriticalSection {
    void *DebugInfo;
    int32_t LockCount; /* -1 free, -2 held (the encoding of current Windows without waiters) */
    int32_t RecursionCount;
    uint32_t OwningThread; /* the owner's thread number; 0 while free */
    pthread_mutex_t *LockSemaphore;
    uint32_t SpinCount;
} CriticalSection;

static void critical_fault(const char *function, const CriticalSection *section, const char *what) {
    fprintf(stderr, "pe: %s(%p): %s\n", function, (const void *)section, what);
    abort();
}

static void WINAPI InitializeCriticalSection_shim(CriticalSection *section) {
    pthread_mutex_t *lock = malloc(sizeof *lock);
    if (lock == NULL || pthread_mutex_init(lock, NULL) != 0)
        critical_fault("InitializeCriticalSection", section, "out of memory");
    section->DebugInfo = (void *)(intptr_t)-1; /* no debug information, as Windows 8 and later leave it */
    section->LockCount = -1;
    section->RecursionCount = 0;
    section->OwningThread = 0;
    section->LockSemaphore = lock;
    section->SpinCount = 0;
}

static void WINAPI DeleteCriticalSection_shim(CriticalSection *section) {
    if (section->LockSemaphore == NULL)
        critical_fault("DeleteCriticalSection", section, "not initialized");
    pthread_mutex_destroy(section->LockSemaphore);
    free(section->LockSemaphore);
    memset(section, 0, sizeof *section);
}

static void WINAPI EnterCriticalSection_shim(CriticalSection *section) {
    const uint32_t me = thread_number();
    if (section->LockSemaphore == NULL)
        critical_fault("EnterCriticalSection", section, "not initialized");
    if (__atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) != me) {
        pthread_mutex_lock(section->LockSemaphore);
        __atomic_store_n(&section->OwningThread, me, __ATOMIC_RELAXED);
        section->LockCount = -2;
    }
    ++section->RecursionCount;
}

static void WINAPI LeaveCriticalSection_shim(CriticalSection *section) {
    if (section->LockSemaphore == NULL || section->OwningThread != thread_number())
        critical_fault("LeaveCriticalSection", section, "the calling thread does not own it");
    if (--section->RecursionCount == 0) {
        section->LockCount = -1;
        __atomic_store_n(&section->OwningThread, 0, __ATOMIC_RELAXED);
        pthread_mutex_unlock(section->LockSemaphore);
    }
}

/* ---- Thread-local storage ------------------------------------------------------------------- */

/* TLS_MINIMUM_AVAILABLE slots plus the 1024 expansion slots. Nothing here
 * allocates or sets a slot (TlsAlloc and TlsSetValue are not imported), so
 * every valid slot reads 0. */
static void *WINAPI TlsGetValue_shim(DWORD index) {
    if (index >= 64 + 1024) {
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
        return NULL;
    }
    pe_set_last_error(PE_ERROR_SUCCESS); /* tells a stored 0 from a failure */
    return NULL;
}

/* ---- Modules -------------------------------------------------------------------------------- */

/* Module names that are plain ASCII, from UTF-16. */
static int narrow_name(const uint16_t *wide, char *out, size_t size) {
    size_t i = 0;
    for (; wide[i] != 0; ++i) {
        if (i + 1 >= size || wide[i] > 0x7F)
            return 0;
        out[i] = (char)wide[i];
    }
    out[i] = '\0';
    return 1;
}

static HMODULE module_handle(const char *name) {
    if (name == NULL)
        return pe_host_module();
    HMODULE module = pe_module_handle(name);
    pe_trace("GetModuleHandle(\"%s\") = %p", name, module);
    if (module == NULL)
        pe_set_last_error(PE_ERROR_MOD_NOT_FOUND);
    return module;
}

static HMODULE WINAPI GetModuleHandleA_shim(const char *name) { return module_handle(name); }

static HMODULE WINAPI GetModuleHandleW_shim(const uint16_t *name) {
    char narrow[260];
    if (name == NULL)
        return pe_host_module();
    if (!narrow_name(name, narrow, sizeof narrow)) {
        pe_trace("GetModuleHandleW: a name beyond ASCII is never a module here");
        pe_set_last_error(PE_ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return module_handle(narrow);
}

static void *WINAPI GetProcAddress_shim(HMODULE module, const char *name) {
    DWORD error = 0;
    void *address = pe_module_proc(module, name, &error);
    if ((uintptr_t)name < 0x10000u)
        pe_trace("GetProcAddress(%p, ordinal %u) = %p", module, (unsigned)(uintptr_t)name, address);
    else
        pe_trace("GetProcAddress(%p, \"%s\") = %p", module, name, address);
    if (address == NULL)
        pe_set_last_error(error);
    return address;
}

static HMODULE WINAPI LoadLibraryA_shim(const char *name) {
    if (name == NULL) {
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HMODULE module = pe_module_acquire(name);
    pe_trace("LoadLibraryA(\"%s\") = %p", name, module);
    if (module == NULL)
        pe_set_last_error(PE_ERROR_MOD_NOT_FOUND);
    return module;
}

static BOOL WINAPI FreeLibrary_shim(HMODULE module) {
    const BOOL ok = pe_module_release(module);
    pe_trace("FreeLibrary(%p) = %d", module, ok);
    if (!ok)
        pe_set_last_error(PE_ERROR_MOD_NOT_FOUND);
    return ok;
}

/* ---- Virtual memory ------------------------------------------------------------------------- */

static size_t WINAPI VirtualQuery_shim(const void *address, PeMemoryInfo *info, size_t length) {
    if (length < sizeof *info) {
        pe_set_last_error(PE_ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t written = pe_image_query(address, info);
    if (written == 0) {
        fprintf(stderr, "pe: VirtualQuery(%p): the test loader knows only the pages of loaded images\n", address);
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
    }
    return written;
}

static BOOL WINAPI VirtualProtect_shim(void *address, size_t size, DWORD protect, DWORD *old_protect) {
    if (old_protect == NULL) {
        pe_set_last_error(PE_ERROR_NOACCESS);
        return 0;
    }
    if (!pe_image_protect(address, size, protect, old_protect)) {
        pe_trace("VirtualProtect(%p, %zu, %#x) refused", address, size, protect);
        pe_set_last_error(PE_ERROR_INVALID_ADDRESS);
        return 0;
    }
    return 1;
}

/* ---- Code pages ---------------------------------------------------------------------------- */

/* The ANSI code page is 1252 here. Its bytes 0x80 to 0x9F; the five it leaves
 * undefined map to the same code points, as Windows maps them. */
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
enum { CP_ACP = 0, CP_1252 = 1252, CP_UTF8 = 65001, MB_ERR_INVALID_CHARS = 8, WC_ERR_INVALID_CHARS = 0x80 };

static int known_code_page(DWORD code_page) {
    return code_page == CP_ACP || code_page == CP_1252 || code_page == CP_UTF8;
}

static BOOL WINAPI IsDBCSLeadByteEx_shim(DWORD code_page, uint8_t byte) {
    (void)byte; /* neither 1252 nor UTF-8 has lead bytes */
    if (!known_code_page(code_page))
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
    return 0;
}

/* One UTF-8 sequence at `s` (at most `left` bytes): the code point, or -1
 * when the sequence is not valid UTF-8; *used gets its length. */
static int32_t utf8_decode(const uint8_t *s, size_t left, size_t *used) {
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    size_t length = s[0] < 0x80             ? 1
                    : (s[0] & 0xE0) == 0xC0 ? 2
                    : (s[0] & 0xF0) == 0xE0 ? 3
                    : (s[0] & 0xF8) == 0xF0 ? 4
                                            : 0;
    *used = 1;
    if (length == 0 || length > left)
        return -1;
    uint32_t code = length == 1 ? s[0] : s[0] & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return -1;
        code = code << 6 | (s[i] & 0x3Fu);
    }
    if (code < kMin[length - 1] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return -1;
    *used = length;
    return (int32_t)code;
}

static int WINAPI MultiByteToWideChar_shim(DWORD code_page, DWORD flags, const char *text, int bytes, uint16_t *out,
                                           int capacity) {
    if (!known_code_page(code_page) || text == NULL || bytes == 0 || capacity < 0 || (capacity > 0 && out == NULL) ||
        (flags & ~(DWORD)MB_ERR_INVALID_CHARS) != 0) {
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = bytes < 0 ? strlen(text) + 1 : (size_t)bytes;
    const uint8_t *s = (const uint8_t *)text;
    int count = 0;
    for (size_t i = 0; i < length;) {
        uint16_t units[2];
        int n = 1;
        if (code_page != CP_UTF8) {
            units[0] = s[i] >= 0x80 && s[i] < 0xA0 ? kCp1252High[s[i] - 0x80] : s[i];
            ++i;
        } else {
            size_t used = 1;
            int32_t code = utf8_decode(s + i, length - i, &used);
            if (code < 0) {
                if (flags & MB_ERR_INVALID_CHARS) {
                    pe_set_last_error(PE_ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                code = 0xFFFD;
            }
            i += used;
            if (code >= 0x10000) {
                units[0] = (uint16_t)(0xD800 + ((code - 0x10000) >> 10));
                units[1] = (uint16_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
                n = 2;
            } else {
                units[0] = (uint16_t)code;
            }
        }
        if (capacity > 0) {
            if (count + n > capacity) {
                pe_set_last_error(PE_ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(out + count, units, (size_t)n * sizeof *units);
        }
        count += n;
    }
    return count;
}

static int WINAPI WideCharToMultiByte_shim(DWORD code_page, DWORD flags, const uint16_t *text, int units, char *out,
                                           int capacity, const char *default_char, BOOL *used_default) {
    const int utf8 = code_page == CP_UTF8;
    if (!known_code_page(code_page) || text == NULL || units == 0 || capacity < 0 || (capacity > 0 && out == NULL) ||
        (utf8 && (default_char != NULL || used_default != NULL)) || (flags & ~(DWORD)WC_ERR_INVALID_CHARS) != 0 ||
        (!utf8 && flags != 0)) {
        pe_set_last_error(PE_ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = (size_t)units;
    if (units < 0) { /* up to and with the terminating 0 */
        for (length = 0; text[length] != 0; ++length) {
        }
        ++length;
    }
    if (used_default != NULL)
        *used_default = 0;
    int count = 0;
    for (size_t i = 0; i < length;) {
        uint32_t code = text[i++];
        char bytes[4];
        int n = 1;
        if (code >= 0xD800 && code <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i++] - 0xDC00u);
        else if (code >= 0xD800 && code <= 0xDFFF) {
            if (utf8 && (flags & WC_ERR_INVALID_CHARS)) {
                pe_set_last_error(PE_ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            code = 0xFFFD;
        }
        if (utf8) {
            if (code < 0x80) {
                bytes[0] = (char)code;
            } else if (code < 0x800) {
                bytes[0] = (char)(0xC0 | code >> 6), bytes[1] = (char)(0x80 | (code & 0x3F)), n = 2;
            } else if (code < 0x10000) {
                bytes[0] = (char)(0xE0 | code >> 12), bytes[1] = (char)(0x80 | (code >> 6 & 0x3F));
                bytes[2] = (char)(0x80 | (code & 0x3F)), n = 3;
            } else {
                bytes[0] = (char)(0xF0 | code >> 18), bytes[1] = (char)(0x80 | (code >> 12 & 0x3F));
                bytes[2] = (char)(0x80 | (code >> 6 & 0x3F)), bytes[3] = (char)(0x80 | (code & 0x3F)), n = 4;
            }
        } else {
            int byte = code < 0x80 || (code >= 0xA0 && code <= 0xFF) ? (int)code : -1;
            for (int b = 0; b < 32 && byte < 0; ++b)
                if (kCp1252High[b] == code)
                    byte = 0x80 + b;
            if (byte < 0) {
                byte = default_char != NULL ? (uint8_t)*default_char : '?';
                if (used_default != NULL)
                    *used_default = 1;
            }
            bytes[0] = (char)byte;
        }
        if (capacity > 0) {
            if (count + n > capacity) {
                pe_set_last_error(PE_ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(out + count, bytes, (size_t)n);
        }
        count += n;
    }
    return count;
}

/* ---- The table ------------------------------------------------------------------------------ */

#define SHIM(name)                                                                                                   \
    { #name, (void *)name##_shim }
static const struct pe_shim kKernel32[] = {
    SHIM(CloseHandle),           SHIM(CreateMutexA),
    SHIM(DeleteCriticalSection), SHIM(EnterCriticalSection),
    SHIM(FreeLibrary),           SHIM(GetLastError),
    SHIM(GetModuleHandleA),      SHIM(GetModuleHandleW),
    SHIM(GetProcAddress),        SHIM(InitializeCriticalSection),
    SHIM(IsDBCSLeadByteEx),      SHIM(LeaveCriticalSection),
    SHIM(LoadLibraryA),          SHIM(MultiByteToWideChar),
    SHIM(ReleaseMutex),          SHIM(Sleep),
    SHIM(TlsGetValue),           SHIM(VirtualProtect),
    SHIM(VirtualQuery),          SHIM(WaitForSingleObject),
    SHIM(WideCharToMultiByte),
};
#undef SHIM

const struct pe_shim_dll pe_kernel32_dll = {"KERNEL32.dll", kKernel32, sizeof kKernel32 / sizeof kKernel32[0]};

/*
 * The loader: reads a PE32 DLL, maps its image, relocates it, binds its
 * imports to the shims, gives the threads that run its start-up and shut-down
 * code a thread environment block, and calls its TLS callbacks and entry point.
 *
 * One recursive lock serializes loading, unloading and every lookup in the
 * module list, so that a DLL may call LoadLibraryA or GetModuleHandleA from
 * its own entry point, as Windows allows.
 */
#define _GNU_SOURCE
#include "pe_loader.h"
#include "pe_internal.h"

#include <asm/ldt.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#define PAGE 4096u
#define TLS_INDEXES 64

typedef BOOL(WINAPI *EntryFunc)(HMODULE, DWORD, void *);
typedef void(WINAPI *TlsCallbackFunc)(HMODULE, DWORD, void *);

struct pe_module {
    struct pe_module *next;
    uint8_t *base;
    uint32_t size; /* SizeOfImage, rounded up to whole pages */
    char *path;    /* resolved path of the file */
    const char *name;
    int refs;
    uint32_t entry_rva;
    uint32_t export_rva, export_size;
    uint8_t *protect;                                          /* PE_PAGE_* of every page */
    int tls_index;                                             /* -1: the module has no TLS directory */
    uint32_t tls_start, tls_end, tls_zero_fill, tls_callbacks; /* addresses, relocated */
};

static pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
static struct pe_module *g_modules;
static uint64_t g_tls_indexes_used;
static const char g_host_module = 0; /* its address is the host program's HMODULE */

/* ---- Diagnostics ----------------------------------------------------------------- */

void pe_trace(const char *format, ...) {
    static int enabled = -1;
    if (enabled < 0) {
        const char *value = getenv("PE_LOADER_TRACE");
        enabled = value != NULL && *value != '\0' && strcmp(value, "0") != 0;
    }
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    fputs("pe: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

static void load_error(const char *path, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void load_error(const char *path, const char *format, ...) {
    va_list args;
    va_start(args, format);
    fprintf(stderr, "pe_load: %s: ", path);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

/* ---- Reading the file ---------------------------------------------------------------- */

static uint16_t rd16(const uint8_t *p) {
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

static uint32_t rd32(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

static void wr32(uint8_t *p, uint32_t v) { memcpy(p, &v, sizeof v); }

static uint8_t *read_file(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    if (file == NULL)
        return NULL;
    uint8_t *data = NULL;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
        data = malloc((size_t)length);
        if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
            free(data);
            data = NULL;
        }
    }
    fclose(file);
    *size = data != NULL ? (size_t)length : 0;
    return data;
}

/* Whether [offset, offset + length) lies inside a block of `size` bytes. */
static int inside(uint32_t offset, uint32_t length, uint32_t size) {
    return offset <= size && length <= size - offset;
}

/* A NUL-terminated string at `rva` inside the image, or null. */
static const char *image_string(const struct pe_module *m, uint32_t rva) {
    if (rva >= m->size || memchr(m->base + rva, 0, m->size - rva) == NULL)
        return NULL;
    return (const char *)m->base + rva;
}

/* ---- Protections ---------------------------------------------------------------------- */

static DWORD section_protection(uint32_t characteristics) {
    const int x = (characteristics & 0x20000000u) != 0;
    const int r = (characteristics & 0x40000000u) != 0;
    const int w = (characteristics & 0x80000000u) != 0;
    if (x)
        return w ? PE_PAGE_EXECUTE_READWRITE : r ? PE_PAGE_EXECUTE_READ : PE_PAGE_EXECUTE;
    return w ? PE_PAGE_READWRITE : r ? PE_PAGE_READONLY : PE_PAGE_NOACCESS;
}

static int posix_protection(DWORD protect) {
    switch (protect) {
    case PE_PAGE_NOACCESS: return PROT_NONE;
    case PE_PAGE_READONLY: return PROT_READ;
    case PE_PAGE_READWRITE:
    case PE_PAGE_WRITECOPY: return PROT_READ | PROT_WRITE;
    case PE_PAGE_EXECUTE: /* x86 pages that execute can be read */
    case PE_PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PE_PAGE_EXECUTE_READWRITE:
    case PE_PAGE_EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
    }
}

static int apply_protection(struct pe_module *m) {
    for (uint32_t page = 0; page < m->size / PAGE;) {
        uint32_t run = 1;
        while (page + run < m->size / PAGE && m->protect[page + run] == m->protect[page])
            ++run;
        if (mprotect(m->base + page * PAGE, run * PAGE, posix_protection(m->protect[page])) != 0)
            return 0;
        page += run;
    }
    return 1;
}

/* ---- Image ---------------------------------------------------------------------------------- */

static void free_module(struct pe_module *m) {
    if (m->base != NULL)
        munmap(m->base, m->size);
    free(m->protect);
    free(m->path);
    free(m);
}

/* Adds a text to a comma-separated list of problems. */
static void add_problem(char **list, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void add_problem(char **list, const char *format, ...) {
    char item[512];
    va_list args;
    va_start(args, format);
    vsnprintf(item, sizeof item, format, args);
    va_end(args);
    const size_t old = *list != NULL ? strlen(*list) : 0;
    char *grown = realloc(*list, old + strlen(item) + 3);
    if (grown == NULL)
        return;
    snprintf(grown + old, strlen(item) + 3, "%s%s", old != 0 ? ", " : "", item);
    *list = grown;
}

static int relocate(struct pe_module *m, uint32_t preferred, uint32_t rva, uint32_t size) {
    const uint32_t delta = (uint32_t)(uintptr_t)m->base - preferred;
    if (delta == 0)
        return 1;
    if (size == 0) {
        load_error(m->path, "must be moved from %#x to %p but has no base relocations", preferred, m->base);
        return 0;
    }
    if (!inside(rva, size, m->size)) {
        load_error(m->path, "base relocations lie outside the image");
        return 0;
    }
    for (uint32_t at = rva; at + 8 <= rva + size;) {
        const uint32_t page = rd32(m->base + at), block = rd32(m->base + at + 4);
        if (block < 8 || !inside(at, block, rva + size)) {
            load_error(m->path, "malformed base relocation block at %#x", at);
            return 0;
        }
        for (uint32_t entry = at + 8; entry + 2 <= at + block; entry += 2) {
            const uint16_t word = rd16(m->base + entry);
            const uint32_t type = word >> 12, target = page + (word & 0xFFFu);
            if (type == 0) /* IMAGE_REL_BASED_ABSOLUTE: padding */
                continue;
            if (type != 3) { /* only IMAGE_REL_BASED_HIGHLOW occurs in 32-bit x86 images */
                load_error(m->path, "base relocation of type %u at %#x is not supported", type, target);
                return 0;
            }
            if (!inside(target, 4, m->size)) {
                load_error(m->path, "base relocation at %#x lies outside the image", target);
                return 0;
            }
            wr32(m->base + target, rd32(m->base + target) + delta);
        }
        at += block;
    }
    return 1;
}

static int bind_imports(struct pe_module *m, uint32_t rva, uint32_t size) {
    if (size == 0)
        return 1;
    char *problems = NULL;
    for (uint32_t desc = rva;; desc += 20) {
        if (!inside(desc, 20, m->size)) {
            add_problem(&problems, "import directory runs past the image");
            break;
        }
        const uint32_t lookup_rva = rd32(m->base + desc), name_rva = rd32(m->base + desc + 12);
        const uint32_t address_rva = rd32(m->base + desc + 16);
        if (name_rva == 0 && address_rva == 0)
            break;
        const char *dll_name = image_string(m, name_rva);
        if (dll_name == NULL) {
            add_problem(&problems, "import descriptor at %#x has no name", desc);
            continue;
        }
        const struct pe_shim_dll *dll = pe_find_shim_dll(dll_name);
        const uint32_t thunks = lookup_rva != 0 ? lookup_rva : address_rva;
        for (uint32_t i = 0;; ++i) {
            if (!inside(thunks + 4 * i, 4, m->size) || !inside(address_rva + 4 * i, 4, m->size)) {
                add_problem(&problems, "%s: import table runs past the image", dll_name);
                break;
            }
            const uint32_t thunk = rd32(m->base + thunks + 4 * i);
            if (thunk == 0)
                break;
            if (thunk & 0x80000000u) {
                add_problem(&problems, "%s ordinal %u (only names are bound)", dll_name, thunk & 0xFFFFu);
                continue;
            }
            const char *name = image_string(m, thunk + 2);
            void *address = name != NULL && dll != NULL ? pe_find_shim(dll, name) : NULL;
            if (address == NULL) {
                add_problem(&problems, "%s!%s", dll_name, name != NULL ? name : "?");
                continue;
            }
            wr32(m->base + address_rva + 4 * i, (uint32_t)(uintptr_t)address);
        }
    }
    if (problems != NULL) {
        load_error(m->path, "refused: no shim for %s", problems);
        free(problems);
        return 0;
    }
    return 1;
}

/* Maps, relocates and binds the image; the entry point has not run yet. */
static struct pe_module *map_image(const char *path) {
    size_t file_size = 0;
    uint8_t *file = read_file(path, &file_size);
    if (file == NULL) {
        load_error(path, "cannot read the file");
        return NULL;
    }
    struct pe_module *m = calloc(1, sizeof *m);
    if (m == NULL) {
        free(file);
        return NULL;
    }
    m->path = strdup(path);
    m->name = m->path != NULL && strrchr(m->path, '/') != NULL ? strrchr(m->path, '/') + 1 : m->path;
    m->refs = 1;
    m->tls_index = -1;
    const uint32_t size = (uint32_t)(file_size < UINT32_MAX ? file_size : UINT32_MAX);

    /* DOS stub, "PE\0\0", the file header and the PE32 optional header. */
    const uint32_t nt = size >= 0x40 && file[0] == 'M' && file[1] == 'Z' ? rd32(file + 0x3C) : UINT32_MAX;
    if (nt == UINT32_MAX || !inside(nt, 24 + 96, size) || memcmp(file + nt, "PE\0\0", 4) != 0) {
        load_error(path, "not a PE file");
        goto fail;
    }
    const uint8_t *header = file + nt + 4, *optional = header + 20;
    const uint16_t machine = rd16(header), sections = rd16(header + 2), optional_size = rd16(header + 16);
    const uint16_t characteristics = rd16(header + 18);
    if (machine != 0x14C || rd16(optional) != 0x10B) {
        load_error(path, "not a 32-bit x86 image (machine %#x, optional header magic %#x)", machine, rd16(optional));
        goto fail;
    }
    if (!(characteristics & 0x2000u)) {
        load_error(path, "not a DLL");
        goto fail;
    }
    const uint32_t preferred = rd32(optional + 28), section_alignment = rd32(optional + 32);
    const uint32_t image_size = rd32(optional + 56), headers_size = rd32(optional + 60);
    const uint32_t directories = rd32(optional + 92);
    const uint32_t section_table = nt + 24 + optional_size;
    if (section_alignment == 0 || section_alignment % PAGE != 0) {
        load_error(path, "section alignment %#x is not a multiple of the page size", section_alignment);
        goto fail;
    }
    if (!inside(section_table, 40u * sections, size) || headers_size > size || image_size == 0 ||
        image_size > 0x40000000u || directories > (optional_size - 96u) / 8u) {
        load_error(path, "malformed headers");
        goto fail;
    }
#define DIRECTORY(i, field) ((i) < directories ? rd32(optional + 96 + 8 * (i) + 4 * (field)) : 0u)
    m->entry_rva = rd32(optional + 16);
    m->export_rva = DIRECTORY(0, 0);
    m->export_size = DIRECTORY(0, 1);

    m->size = (image_size + PAGE - 1) & ~(PAGE - 1);
    void *base = mmap(NULL, m->size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    m->protect = calloc(m->size / PAGE, 1);
    if (base == MAP_FAILED || m->protect == NULL) {
        load_error(path, "no memory for an image of %u bytes", m->size);
        goto fail;
    }
    m->base = base;
    pe_trace("%s: preferred base %#x, mapped at %p, %u bytes", m->name, preferred, base, m->size);

    memcpy(m->base, file, headers_size < m->size ? headers_size : m->size);
    memset(m->protect, PE_PAGE_NOACCESS, m->size / PAGE);
    memset(m->protect, PE_PAGE_READONLY, (headers_size + PAGE - 1) / PAGE);
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t *section = file + section_table + 40 * i;
        const uint32_t virtual_size = rd32(section + 8), rva = rd32(section + 12);
        const uint32_t raw_size = rd32(section + 16), raw_offset = rd32(section + 20);
        const uint32_t extent = virtual_size > raw_size ? virtual_size : raw_size;
        const uint32_t copy = virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size;
        if (!inside(rva, extent, m->size) || !inside(raw_offset, copy, size)) {
            load_error(path, "section %.8s lies outside the image or the file", (const char *)section);
            goto fail;
        }
        memcpy(m->base + rva, file + raw_offset, copy);
        const uint32_t first = rva / PAGE, end = (rva + extent + PAGE - 1) / PAGE;
        memset(m->protect + first, (int)section_protection(rd32(section + 36)), end - first);
    }

    if (!relocate(m, preferred, DIRECTORY(5, 0), DIRECTORY(5, 1)) ||
        !bind_imports(m, DIRECTORY(1, 0), DIRECTORY(1, 1)))
        goto fail;

    if (DIRECTORY(9, 1) != 0) {
        const uint32_t tls = DIRECTORY(9, 0);
        if (!inside(tls, 24, m->size)) {
            load_error(path, "TLS directory lies outside the image");
            goto fail;
        }
        const uint32_t low = (uint32_t)(uintptr_t)m->base, high = low + m->size;
        m->tls_start = rd32(m->base + tls);
        m->tls_end = rd32(m->base + tls + 4);
        m->tls_zero_fill = rd32(m->base + tls + 16);
        m->tls_callbacks = rd32(m->base + tls + 12);
        const uint32_t index_address = rd32(m->base + tls + 8);
        if (m->tls_start < low || m->tls_end < m->tls_start || m->tls_end > high || index_address < low ||
            index_address > high - 4 ||
            (m->tls_callbacks != 0 && (m->tls_callbacks < low || m->tls_callbacks > high - 4))) {
            load_error(path, "TLS directory points outside the image");
            goto fail;
        }
        int index = 0;
        while (index < TLS_INDEXES && (g_tls_indexes_used >> index & 1u))
            ++index;
        if (index == TLS_INDEXES) {
            load_error(path, "no TLS index left");
            goto fail;
        }
        g_tls_indexes_used |= (uint64_t)1 << index;
        m->tls_index = index;
        wr32((uint8_t *)(uintptr_t)index_address, (uint32_t)index);
    }
#undef DIRECTORY

    if (!apply_protection(m)) {
        load_error(path, "cannot set the page protections");
        goto fail;
    }
    free(file);
    return m;

fail:
    if (m->tls_index >= 0)
        g_tls_indexes_used &= ~((uint64_t)1 << m->tls_index);
    free_module(m);
    free(file);
    return NULL;
}

/* ---- Thread environment blocks ------------------------------------------------------------- */

/* Offsets in a 32-bit TEB that code reads through %fs. */
enum {
    TEB_EXCEPTION_LIST = 0x00, /* -1: no SEH frame registered */
    TEB_STACK_BASE = 0x04,
    TEB_STACK_LIMIT = 0x08,
    TEB_SELF = 0x18,
    TEB_PROCESS_ID = 0x20,
    TEB_THREAD_ID = 0x24,
    TEB_TLS_POINTER = 0x2C, /* ThreadLocalStoragePointer: one block per TLS index */
    TEB_PEB = 0x30,
};

/* A TEB and its TLS blocks. They stay until the process ends: a thread
 * started later inherits its creator's %fs, and must not find freed memory. */
struct teb_record {
    struct teb_record *next;
    uint8_t *teb;
    void **tls;
};

static __thread struct teb_record *t_teb;
static struct teb_record *g_tebs;
static int g_next_ldt_entry = 1;
static uint8_t g_peb[PAGE] __attribute__((aligned(16)));

static void *tls_block(const struct pe_module *m) {
    const uint32_t data = m->tls_end - m->tls_start;
    uint8_t *block = calloc(1, (size_t)data + m->tls_zero_fill + 1);
    if (block != NULL)
        memcpy(block, (const void *)(uintptr_t)m->tls_start, data);
    return block;
}

/* Gives the calling thread a TEB through %fs, unless it has one. */
static int ensure_teb(void) {
    if (t_teb != NULL)
        return 1;
    struct teb_record *record = calloc(1, sizeof *record);
    uint8_t *teb = aligned_alloc(PAGE, PAGE);
    void **tls = calloc(TLS_INDEXES, sizeof *tls);
    if (record == NULL || teb == NULL || tls == NULL) {
        free(record);
        free(teb);
        free(tls);
        return 0;
    }
    memset(teb, 0, PAGE);
    void *stack = NULL;
    size_t stack_size = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &stack, &stack_size);
        pthread_attr_destroy(&attr);
    }
    wr32(teb + TEB_EXCEPTION_LIST, 0xFFFFFFFFu);
    wr32(teb + TEB_STACK_BASE, (uint32_t)((uintptr_t)stack + stack_size));
    wr32(teb + TEB_STACK_LIMIT, (uint32_t)(uintptr_t)stack);
    wr32(teb + TEB_SELF, (uint32_t)(uintptr_t)teb);
    wr32(teb + TEB_PROCESS_ID, (uint32_t)getpid());
    wr32(teb + TEB_THREAD_ID, (uint32_t)syscall(SYS_gettid));
    wr32(teb + TEB_TLS_POINTER, (uint32_t)(uintptr_t)tls);
    wr32(teb + TEB_PEB, (uint32_t)(uintptr_t)g_peb);
    for (const struct pe_module *m = g_modules; m != NULL; m = m->next)
        if (m->tls_index >= 0)
            tls[m->tls_index] = tls_block(m);

    /* One LDT entry per thread: the LDT is shared by the whole process. */
    struct user_desc desc;
    memset(&desc, 0, sizeof desc);
    desc.entry_number = (unsigned)g_next_ldt_entry;
    desc.base_addr = (unsigned)(uintptr_t)teb;
    desc.limit = PAGE - 1;
    desc.seg_32bit = 1;
    desc.useable = 1;
    if (syscall(SYS_modify_ldt, 0x11, &desc, sizeof desc) != 0) {
        perror("pe_load: modify_ldt (the thread environment block needs an LDT entry)");
        free(record);
        free(teb);
        free(tls);
        return 0;
    }
    const uint16_t selector = (uint16_t)(g_next_ldt_entry++ << 3 | 7); /* LDT, privilege 3 */
    __asm__ volatile("movw %0, %%fs" : : "r"(selector));
    record->teb = teb;
    record->tls = tls;
    record->next = g_tebs;
    g_tebs = record;
    t_teb = record;
    return 1;
}

/* ---- Lifecycle -------------------------------------------------------------------------------- */

static struct pe_module *find_by_base(const void *base) {
    for (struct pe_module *m = g_modules; m != NULL; m = m->next)
        if (m->base == base)
            return m;
    return NULL;
}

static void unlink_module(struct pe_module *m) {
    for (struct pe_module **link = &g_modules; *link != NULL; link = &(*link)->next)
        if (*link == m) {
            *link = m->next;
            return;
        }
}

static void run_tls_callbacks(struct pe_module *m, DWORD reason) {
    if (m->tls_callbacks == 0)
        return;
    const uint32_t end = (uint32_t)(uintptr_t)m->base + m->size;
    for (uint32_t at = m->tls_callbacks; at + 4 <= end; at += 4) {
        const uint32_t callback = rd32((const uint8_t *)(uintptr_t)at);
        if (callback == 0)
            break;
        pe_trace("%s: TLS callback %#x, reason %u", m->name, callback, reason);
        ((TlsCallbackFunc)(uintptr_t)callback)(m->base, reason, NULL);
    }
}

void (*pe_entry_observer)(void *module, DWORD reason, BOOL result);

static BOOL run_entry(struct pe_module *m, DWORD reason) {
    if (m->entry_rva == 0)
        return 1;
    pe_trace("%s: entry point %p, reason %u", m->name, m->base + m->entry_rva, reason);
    const BOOL result = ((EntryFunc)(uintptr_t)(m->base + m->entry_rva))(m->base, reason, NULL);
    pe_trace("%s: entry point returned %d", m->name, result);
    if (pe_entry_observer != NULL)
        pe_entry_observer(m->base, reason, result);
    return result;
}

/* The end of a module: entry point and TLS callbacks told, memory freed. */
static void detach(struct pe_module *m) {
    run_entry(m, DLL_PROCESS_DETACH);
    run_tls_callbacks(m, DLL_PROCESS_DETACH);
    unlink_module(m);
    if (m->tls_index >= 0) {
        for (struct teb_record *t = g_tebs; t != NULL; t = t->next) {
            free(t->tls[m->tls_index]);
            t->tls[m->tls_index] = NULL;
        }
        g_tls_indexes_used &= ~((uint64_t)1 << m->tls_index);
    }
    free_module(m);
}

void *pe_load(const char *path) {
    if (path == NULL) {
        fputs("pe_load: no path\n", stderr);
        return NULL;
    }
    char *full = realpath(path, NULL);
    if (full == NULL) {
        load_error(path, "no such file");
        return NULL;
    }
    pthread_mutex_lock(&g_lock);
    void *result = NULL;
    struct pe_module *m = g_modules;
    while (m != NULL && strcmp(m->path, full) != 0)
        m = m->next;
    if (m != NULL) {
        ++m->refs;
        result = m->base;
    } else if (!ensure_teb()) {
        load_error(path, "cannot give this thread a thread environment block");
    } else if ((m = map_image(full)) != NULL) {
        /* Listed before its code runs: the entry point may look itself up. */
        m->next = g_modules;
        g_modules = m;
        for (struct teb_record *t = g_tebs; t != NULL && m->tls_index >= 0; t = t->next)
            t->tls[m->tls_index] = tls_block(m);
        run_tls_callbacks(m, DLL_PROCESS_ATTACH);
        if (run_entry(m, DLL_PROCESS_ATTACH)) {
            result = m->base;
        } else {
            load_error(path, "its entry point refused DLL_PROCESS_ATTACH");
            detach(m);
        }
    }
    pthread_mutex_unlock(&g_lock);
    free(full);
    return result;
}

void *pe_symbol(void *module, const char *name) {
    DWORD error = 0;
    void *address = NULL;
    pthread_mutex_lock(&g_lock);
    if (find_by_base(module) != NULL && name != NULL)
        address = pe_module_proc(module, name, &error);
    else
        fprintf(stderr, "pe_symbol: %p is not a loaded module\n", module);
    pthread_mutex_unlock(&g_lock);
    return address;
}

void pe_unload(void *module) {
    pthread_mutex_lock(&g_lock);
    struct pe_module *m = find_by_base(module);
    if (m == NULL) {
        fprintf(stderr, "pe_unload: %p is not a loaded module\n", module);
    } else if (--m->refs == 0) {
        if (ensure_teb())
            detach(m);
        else
            fprintf(stderr, "pe_unload: %s stays loaded: no thread environment block\n", m->path);
    }
    pthread_mutex_unlock(&g_lock);
}

/* ---- Services for the KERNEL32 shims ---------------------------------------------------------- */

/* Whether a module called `module_name` answers to `wanted`, which may carry a
 * path (either slash) and may leave out ".dll". */
int pe_name_matches(const char *module_name, const char *wanted) {
    for (const char *p = wanted; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\')
            wanted = p + 1;
    const size_t length = strlen(wanted);
    if (strcasecmp(module_name, wanted) == 0)
        return 1;
    /* No extension given: ".dll" is implied; a trailing dot means "none". */
    return strchr(wanted, '.') == NULL && strncasecmp(module_name, wanted, length) == 0 &&
           strcasecmp(module_name + length, ".dll") == 0;
}

HMODULE pe_module_handle(const char *name) {
    HMODULE found = NULL;
    pthread_mutex_lock(&g_lock);
    for (struct pe_module *m = g_modules; m != NULL && found == NULL; m = m->next)
        if (pe_name_matches(m->name, name))
            found = m->base;
    pthread_mutex_unlock(&g_lock);
    if (found == NULL)
        found = (HMODULE)pe_find_shim_dll(name);
    return found;
}

HMODULE pe_host_module(void) { return (HMODULE)&g_host_module; }

static int is_shim_dll(HMODULE module) {
    return module == (HMODULE)&pe_kernel32_dll || module == (HMODULE)&pe_msvcrt_dll;
}

/* An export of a loaded module by name, or by ordinal when `name` is below 0x10000. */
static void *export_of(const struct pe_module *m, const char *name) {
    if (m->export_size == 0 || !inside(m->export_rva, 40, m->size))
        return NULL;
    const uint8_t *dir = m->base + m->export_rva;
    const uint32_t ordinal_base = rd32(dir + 16), functions = rd32(dir + 20), names = rd32(dir + 24);
    const uint32_t function_table = rd32(dir + 28), name_table = rd32(dir + 32), ordinal_table = rd32(dir + 36);
    if (!inside(function_table, 4 * functions, m->size) || !inside(name_table, 4 * names, m->size) ||
        !inside(ordinal_table, 2 * names, m->size))
        return NULL;
    uint32_t index = UINT32_MAX;
    if ((uintptr_t)name < 0x10000u) {
        index = (uint32_t)(uintptr_t)name - ordinal_base;
    } else {
        for (uint32_t i = 0; i < names && index == UINT32_MAX; ++i) {
            const char *candidate = image_string(m, rd32(m->base + name_table + 4 * i));
            if (candidate != NULL && strcmp(candidate, name) == 0)
                index = rd16(m->base + ordinal_table + 2 * i);
        }
    }
    if (index >= functions)
        return NULL;
    const uint32_t rva = rd32(m->base + function_table + 4 * index);
    if (rva == 0 || rva >= m->size)
        return NULL;
    if (rva >= m->export_rva && rva < m->export_rva + m->export_size) {
        fprintf(stderr, "pe: %s: export forwarded to %s, which the loader does not follow\n", m->name,
                image_string(m, rva) != NULL ? image_string(m, rva) : "?");
        return NULL;
    }
    return m->base + rva;
}

void *pe_module_proc(HMODULE module, const char *name, DWORD *error) {
    void *address = NULL;
    *error = PE_ERROR_PROC_NOT_FOUND;
    pthread_mutex_lock(&g_lock);
    const struct pe_module *m = find_by_base(module);
    if (m != NULL)
        address = export_of(m, name);
    else if (is_shim_dll(module))
        address = (uintptr_t)name < 0x10000u ? NULL : pe_find_shim((const struct pe_shim_dll *)module, name);
    else if (module != NULL && module != pe_host_module())
        *error = PE_ERROR_MOD_NOT_FOUND;
    pthread_mutex_unlock(&g_lock);
    if (address != NULL)
        *error = PE_ERROR_SUCCESS;
    return address;
}

HMODULE pe_module_acquire(const char *name) {
    pthread_mutex_lock(&g_lock);
    HMODULE found = NULL;
    for (struct pe_module *m = g_modules; m != NULL && found == NULL; m = m->next)
        if (pe_name_matches(m->name, name)) {
            ++m->refs;
            found = m->base;
        }
    pthread_mutex_unlock(&g_lock);
    if (found == NULL)
        found = (HMODULE)pe_find_shim_dll(name);
    if (found == NULL && access(name, R_OK) == 0)
        found = pe_load(name);
    return found;
}

BOOL pe_module_release(HMODULE module) {
    pthread_mutex_lock(&g_lock);
    const BOOL known = find_by_base(module) != NULL;
    if (known)
        pe_unload(module);
    pthread_mutex_unlock(&g_lock);
    return known || is_shim_dll(module);
}

static struct pe_module *find_containing(const void *address) {
    for (struct pe_module *m = g_modules; m != NULL; m = m->next)
        if ((const uint8_t *)address >= m->base && (const uint8_t *)address < m->base + m->size)
            return m;
    return NULL;
}

size_t pe_image_query(const void *address, PeMemoryInfo *info) {
    pthread_mutex_lock(&g_lock);
    const struct pe_module *m = find_containing(address);
    if (m != NULL) {
        const uint32_t page = (uint32_t)((const uint8_t *)address - m->base) / PAGE;
        uint32_t run = 1;
        while (page + run < m->size / PAGE && m->protect[page + run] == m->protect[page])
            ++run;
        info->BaseAddress = m->base + page * PAGE;
        info->AllocationBase = m->base;
        info->AllocationProtect = PE_PAGE_EXECUTE_WRITECOPY; /* what Windows gives image mappings */
        info->RegionSize = run * PAGE;
        info->State = PE_MEM_COMMIT;
        info->Protect = m->protect[page];
        info->Type = PE_MEM_IMAGE;
    }
    pthread_mutex_unlock(&g_lock);
    return m != NULL ? sizeof *info : 0;
}

BOOL pe_image_protect(void *address, size_t size, DWORD protect, DWORD *old_protect) {
    pthread_mutex_lock(&g_lock);
    struct pe_module *m = find_containing(address);
    const uint32_t offset = m != NULL ? (uint32_t)((uint8_t *)address - m->base) : 0;
    const int posix = posix_protection(protect);
    BOOL ok = m != NULL && size != 0 && posix >= 0 && size <= m->size - offset;
    if (ok) {
        const uint32_t first = offset / PAGE, end = (uint32_t)((offset + size + PAGE - 1) / PAGE);
        ok = mprotect(m->base + first * PAGE, (end - first) * PAGE, posix) == 0;
        if (ok) {
            *old_protect = m->protect[first];
            memset(m->protect + first, (int)protect, end - first);
        }
    }
    pthread_mutex_unlock(&g_lock);
    return ok;
}

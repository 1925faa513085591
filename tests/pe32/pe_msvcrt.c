/*
 * msvcrt.dll for the loaded DLL: its cdecl functions mapped to the C library,
 * with msvcrt's own numbers and layouts wherever the DLL sees them: errno
 * values, locale categories, the FILE array _iob, struct lconv, a 16-bit
 * wchar_t, case-insensitive environment names. What msvcrt would do otherwise
 * than the C library here (format directives, locale names, other streams) is
 * refused on stderr, never passed on with a different meaning.
 */
#define _GNU_SOURCE
#include "pe_internal.h"

#include <errno.h>
#include <locale.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

extern char **environ;

/* ---- errno ------------------------------------------------------------------------- */

static __thread int t_errno;

static int *msvcrt_errno_location(void) { return &t_errno; }

/* msvcrt's numbers agree with Linux up to ERANGE (34) and differ above. */
static const struct {
    int linux_value, msvcrt_value;
} kErrnoAbove34[] = {{EDEADLK, 36}, {ENAMETOOLONG, 38}, {ENOLCK, 39}, {ENOSYS, 40}, {ENOTEMPTY, 41}, {EILSEQ, 42}};

static int to_msvcrt_errno(int value) {
    for (size_t i = 0; i < sizeof kErrnoAbove34 / sizeof kErrnoAbove34[0]; ++i)
        if (kErrnoAbove34[i].linux_value == value)
            return kErrnoAbove34[i].msvcrt_value;
    return value;
}

static int to_linux_errno(int value) {
    for (size_t i = 0; i < sizeof kErrnoAbove34 / sizeof kErrnoAbove34[0]; ++i)
        if (kErrnoAbove34[i].msvcrt_value == value)
            return kErrnoAbove34[i].linux_value;
    return value <= 34 ? value : -1;
}

/* Calls `expression` and copies a changed errno into msvcrt's. */
#define KEEPING_ERRNO(type, expression)                                                                              \
    do {                                                                                                             \
        errno = 0;                                                                                                   \
        type result_ = (expression);                                                                                 \
        if (errno != 0)                                                                                              \
            t_errno = to_msvcrt_errno(errno);                                                                        \
        return result_;                                                                                              \
    } while (0)

/* ---- Start-up and termination ----------------------------------------------------------- */

typedef void (*InitFunc)(void);

static void msvcrt_initterm(InitFunc *begin, InitFunc *end) {
    for (; begin < end; ++begin)
        if (*begin != NULL)
            (*begin)();
}

static void msvcrt_amsg_exit(int code) {
    fprintf(stderr, "pe: msvcrt _amsg_exit: runtime error R60%02d\n", code);
    _exit(255);
}

static void msvcrt_abort(void) {
    fputs("pe: msvcrt abort() called by the DLL\n", stderr);
    abort();
}

/* msvcrt's internal locks, by number: 0 to 15 for the runtime, 16 on for the
 * streams of _iob. Recursive, as msvcrt's are. */
#define LOCKS 64
static pthread_mutex_t g_locks[LOCKS];
static pthread_once_t g_locks_once = PTHREAD_ONCE_INIT;

static void init_locks(void) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    for (int i = 0; i < LOCKS; ++i)
        pthread_mutex_init(&g_locks[i], &attr);
    pthread_mutexattr_destroy(&attr);
}

static pthread_mutex_t *lock_number(int number, const char *function) {
    if (number < 0 || number >= LOCKS) {
        fprintf(stderr, "pe: msvcrt %s(%d): no such lock\n", function, number);
        abort();
    }
    pthread_once(&g_locks_once, init_locks);
    return &g_locks[number];
}

static void msvcrt_lock(int number) { pthread_mutex_lock(lock_number(number, "_lock")); }
static void msvcrt_unlock(int number) { pthread_mutex_unlock(lock_number(number, "_unlock")); }

/* ---- Memory and strings --------------------------------------------------------------------- */

const struct pe_heap_watch *pe_heap_watch_now;

/* An allocation the tests refuse fails as exhausted memory does. */
static int heap_allows(void) {
    if (pe_heap_watch_now == NULL || pe_heap_watch_now->allow())
        return 1;
    t_errno = to_msvcrt_errno(ENOMEM);
    return 0;
}

static void heap_track(void *gone, void *came) {
    if (pe_heap_watch_now != NULL)
        pe_heap_watch_now->track(gone, came);
}

static void *heap_came(void *block) {
    heap_track(NULL, block);
    return block;
}

static void *msvcrt_malloc_plain(size_t size) { KEEPING_ERRNO(void *, malloc(size)); }
static void *msvcrt_calloc_plain(size_t count, size_t size) { KEEPING_ERRNO(void *, calloc(count, size)); }
static void *msvcrt_realloc_plain(void *block, size_t size) { KEEPING_ERRNO(void *, realloc(block, size)); }
static void *msvcrt_malloc(size_t size) { return heap_allows() ? heap_came(msvcrt_malloc_plain(size)) : NULL; }
static void *msvcrt_calloc(size_t count, size_t size) {
    return heap_allows() ? heap_came(msvcrt_calloc_plain(count, size)) : NULL;
}
static void *msvcrt_realloc(void *block, size_t size) {
    if (!heap_allows())
        return NULL;
    void *moved = msvcrt_realloc_plain(block, size);
    if (moved != NULL)
        heap_track(block, moved);
    return moved;
}
static void msvcrt_free(void *block) {
    heap_track(block, NULL);
    free(block);
}
static void *msvcrt_memcpy(void *to, const void *from, size_t size) { return memcpy(to, from, size); }
static void *msvcrt_memmove(void *to, const void *from, size_t size) { return memmove(to, from, size); }
static void *msvcrt_memset(void *to, int value, size_t size) { return memset(to, value, size); }
static size_t msvcrt_strlen(const char *s) { return strlen(s); }
static int msvcrt_strcmp(const char *a, const char *b) { return strcmp(a, b); }
static int msvcrt_strncmp(const char *a, const char *b, size_t n) { return strncmp(a, b, n); }
static char *msvcrt_strchr(const char *s, int c) { return strchr(s, c); }
static int msvcrt_atoi(const char *s) { KEEPING_ERRNO(int, atoi(s)); }

/* wchar_t is 16 bits wide on Windows. */
static size_t msvcrt_wcslen(const uint16_t *s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

static char *msvcrt_strerror(int number) {
    static __thread char text[64];
    const int value = to_linux_errno(number);
    if (value < 0) {
        snprintf(text, sizeof text, "Unknown error");
        return text;
    }
    return strerror(value);
}

/* Windows looks environment names up without regard to case. */
static char *msvcrt_getenv(const char *name) {
    const size_t length = name != NULL ? strlen(name) : 0;
    char *value = NULL;
    if (length != 0 && strchr(name, '=') == NULL)
        for (char **entry = environ; *entry != NULL && value == NULL; ++entry)
            if (strncasecmp(*entry, name, length) == 0 && (*entry)[length] == '=')
                value = *entry + length + 1;
    pe_trace("getenv(\"%s\") = %s%s%s", name != NULL ? name : "(null)", value != NULL ? "\"" : "",
             value != NULL ? value : "null", value != NULL ? "\"" : "");
    return value;
}

/* ---- Locale ----------------------------------------------------------------------------------- */

static int linux_category(int msvcrt_category) {
    static const int kCategories[] = {LC_ALL, LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC, LC_TIME};
    return msvcrt_category >= 0 && msvcrt_category < 6 ? kCategories[msvcrt_category] : -1;
}

/* Queries, and the "C" locale, which both libraries share; msvcrt's locale
 * names ("English_United States.1252") mean nothing to the C library. */
static char *msvcrt_setlocale(int category, const char *locale) {
    const int mapped = linux_category(category);
    if (mapped < 0) {
        t_errno = EINVAL;
        return NULL;
    }
    if (locale != NULL && strcmp(locale, "C") != 0) {
        fprintf(stderr, "pe: msvcrt setlocale(%d, \"%s\"): only queries and \"C\" are supported\n", category, locale);
        return NULL;
    }
    return setlocale(mapped, locale);
}

/* msvcrt's struct lconv: glibc's first eighteen fields, in the same order. */
typedef struct MsvcrtLconv {
    char *decimal_point, *thousands_sep, *grouping, *int_curr_symbol, *currency_symbol;
    char *mon_decimal_point, *mon_thousands_sep, *mon_grouping, *positive_sign, *negative_sign;
    char int_frac_digits, frac_digits, p_cs_precedes, p_sep_by_space, n_cs_precedes, n_sep_by_space;
    char p_sign_posn, n_sign_posn;
} MsvcrtLconv;

static MsvcrtLconv *msvcrt_localeconv(void) {
    static __thread MsvcrtLconv converted;
    const struct lconv *c = localeconv();
    const MsvcrtLconv copy = {c->decimal_point,   c->thousands_sep,     c->grouping,          c->int_curr_symbol,
                              c->currency_symbol, c->mon_decimal_point, c->mon_thousands_sep, c->mon_grouping,
                              c->positive_sign,   c->negative_sign,     c->int_frac_digits,   c->frac_digits,
                              c->p_cs_precedes,   c->p_sep_by_space,    c->n_cs_precedes,     c->n_sep_by_space,
                              c->p_sign_posn,     c->n_sign_posn};
    converted = copy;
    return &converted;
}

/* ---- Streams ------------------------------------------------------------------------------------ */

/* msvcrt's FILE: 32 bytes. The DLL takes stdin, stdout and stderr as the
 * first three entries of _iob and may set flags in them (its stream locks). */
typedef struct MsvcrtFile {
    char *ptr;
    int cnt;
    char *base;
    int flag;
    int file;
    int charbuf;
    int bufsiz;
    char *tmpfname;
} MsvcrtFile;
_Static_assert(sizeof(MsvcrtFile) == 32, "msvcrt's FILE is 32 bytes");

enum { IOREAD = 0x1, IOWRT = 0x2, IONBF = 0x4 };
static MsvcrtFile g_iob[20] = {
    {.flag = IOREAD, .file = 0}, {.flag = IOWRT, .file = 1}, {.flag = IOWRT | IONBF, .file = 2}};
static int g_mb_cur_max = 1; /* the ANSI code page, 1252, has single bytes */

static FILE *host_stream(const MsvcrtFile *stream, const char *function) {
    if (stream >= g_iob && stream < g_iob + 3)
        return stream == g_iob ? stdin : stream == g_iob + 1 ? stdout : stderr;
    fprintf(stderr, "pe: msvcrt %s: stream %p is not stdin, stdout or stderr of _iob\n", function,
            (const void *)stream);
    t_errno = EBADF;
    return NULL;
}

static int msvcrt_fputc(int c, MsvcrtFile *stream) {
    FILE *host = host_stream(stream, "fputc");
    if (host == NULL)
        return EOF;
    KEEPING_ERRNO(int, fputc(c, host));
}

static size_t msvcrt_fwrite(const void *data, size_t size, size_t count, MsvcrtFile *stream) {
    FILE *host = host_stream(stream, "fwrite");
    if (host == NULL)
        return 0;
    KEEPING_ERRNO(size_t, fwrite(data, size, count, host));
}

/* Copies `format` for glibc into `out`: directives that both libraries read
 * alike pass through, and %p becomes msvcrt's eight upper-case hex digits.
 * Returns null, or the first directive that msvcrt reads otherwise. */
static const char *glibc_format(const char *format, char *out) {
    static __thread char refused[32];
    for (const char *p = format; *p != '\0';) {
        if (*p != '%') {
            *out++ = *p++;
            continue;
        }
        const char *start = p++;
        if (*p == '%') {
            *out++ = '%';
            *out++ = *p++;
            continue;
        }
        p += strspn(p, "-+ #0");
        p += *p == '*' ? 1 : strspn(p, "0123456789");
        if (*p == '.') {
            ++p;
            p += *p == '*' ? 1 : strspn(p, "0123456789");
        }
        const char *length = p;
        p += *p == 'h' || *p == 'l' ? 1 : 0;
        const size_t length_size = (size_t)(p - length);
        const char conversion = *p != '\0' ? *p++ : '\0';
        const int integer = conversion != '\0' && strchr("diouxX", conversion) != NULL;
        const int plain = p - start == 2;
        /* Refused: lengths other than h and l on integers (older msvcrt.dll
         * reads no ll); floating point
         * (msvcrt prints three exponent digits and its own infinities); %n;
         * %S, %C, %Z and l on c or s (msvcrt's wide characters are 16 bits);
         * %p with anything between, and every conversion glibc adds. */
        if (!((integer && length_size <= 1) || ((conversion == 'c' || conversion == 's') && length_size == 0) ||
              (conversion == 'p' && plain))) {
            snprintf(refused, sizeof refused, "%.*s", (int)(p - start), start);
            return refused;
        }
        if (conversion == 'p') {
            memcpy(out, "%08X", 4);
            out += 4;
        } else {
            memcpy(out, start, (size_t)(p - start));
            out += p - start;
        }
    }
    *out = '\0';
    return NULL;
}

static int msvcrt_vfprintf(MsvcrtFile *stream, const char *format, va_list args) {
    FILE *host = host_stream(stream, "vfprintf");
    if (host == NULL)
        return -1;
    char *translated = malloc(strlen(format) * 2 + 1);
    if (translated == NULL) {
        t_errno = ENOMEM;
        return -1;
    }
    const char *refused = glibc_format(format, translated);
    int written = -1;
    if (refused != NULL) {
        fprintf(stderr, "pe: msvcrt vfprintf(\"%s\"): msvcrt reads %s otherwise than glibc; nothing printed\n",
                format, refused);
        t_errno = EINVAL;
    } else {
        errno = 0;
        written = vfprintf(host, translated, args);
        if (written < 0)
            t_errno = to_msvcrt_errno(errno);
    }
    free(translated);
    return written;
}

/* ---- The table -------------------------------------------------------------------------------------- */

static const struct pe_shim kMsvcrt[] = {
    {"__mb_cur_max", &g_mb_cur_max},
    {"_amsg_exit", (void *)msvcrt_amsg_exit},
    {"_errno", (void *)msvcrt_errno_location},
    {"_initterm", (void *)msvcrt_initterm},
    {"_iob", g_iob},
    {"_lock", (void *)msvcrt_lock},
    {"_unlock", (void *)msvcrt_unlock},
    {"abort", (void *)msvcrt_abort},
    {"atoi", (void *)msvcrt_atoi},
    {"calloc", (void *)msvcrt_calloc},
    {"fputc", (void *)msvcrt_fputc},
    {"free", (void *)msvcrt_free},
    {"fwrite", (void *)msvcrt_fwrite},
    {"getenv", (void *)msvcrt_getenv},
    {"localeconv", (void *)msvcrt_localeconv},
    {"malloc", (void *)msvcrt_malloc},
    {"memcpy", (void *)msvcrt_memcpy},
    {"memmove", (void *)msvcrt_memmove},
    {"memset", (void *)msvcrt_memset},
    {"realloc", (void *)msvcrt_realloc},
    {"setlocale", (void *)msvcrt_setlocale},
    {"strchr", (void *)msvcrt_strchr},
    {"strcmp", (void *)msvcrt_strcmp},
    {"strerror", (void *)msvcrt_strerror},
    {"strlen", (void *)msvcrt_strlen},
    {"strncmp", (void *)msvcrt_strncmp},
    {"vfprintf", (void *)msvcrt_vfprintf},
    {"wcslen", (void *)msvcrt_wcslen},
};

const struct pe_shim_dll pe_msvcrt_dll = {"msvcrt.dll", kMsvcrt, sizeof kMsvcrt / sizeof kMsvcrt[0]};

/* ---- Finding shims ------------------------------------------------------------------------------------ */

const struct pe_shim_dll *pe_find_shim_dll(const char *name) {
    static const struct pe_shim_dll *const kDlls[] = {&pe_kernel32_dll, &pe_msvcrt_dll};
    for (size_t i = 0; name != NULL && i < sizeof kDlls / sizeof kDlls[0]; ++i)
        if (pe_name_matches(kDlls[i]->name, name))
            return kDlls[i];
    return NULL;
}

void *pe_find_shim(const struct pe_shim_dll *dll, const char *name) {
    for (size_t i = 0; i < dll->count; ++i)
        if (strcmp(dll->shims[i].name, name) == 0)
            return dll->shims[i].address;
    return NULL;
}

void *pe_shim_address(const char *dll_name, const char *name) {
    const struct pe_shim_dll *dll = pe_find_shim_dll(dll_name);
    return dll != NULL ? pe_find_shim(dll, name) : NULL;
}

/*
 * pe_loader.h - runs a 32-bit Windows DLL inside a 32-bit Linux test program,
 * in place of dlopen and dlsym.
 *
 * The DLL's sections are mapped at whatever address the process gives, its
 * base relocations applied, its imports from KERNEL32.dll and msvcrt.dll bound
 * to shims written for the tests, its TLS callbacks and entry point called with
 * DLL_PROCESS_ATTACH. The loading thread gets a thread environment block
 * through %fs. An import without a shim refuses the load and is named on
 * stderr. PE_LOADER_TRACE=1 in the environment traces the loader's steps and
 * the lookups the DLL makes at run time.
 *
 * Build everything the DLL may call back (shims, host callbacks) with
 * -mstackrealign: 32-bit Windows code keeps the stack only 4-byte aligned.
 */
#ifndef PE_LOADER_H
#define PE_LOADER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the DLL at `path` (or counts one more reference to it when it is
 * loaded already). Returns the module, which is its base address as an
 * HMODULE is, or null after printing why to stderr. */
void *pe_load(const char *path);

/* Address of the export `name` of `module`, or null if it has none. */
void *pe_symbol(void *module, const char *name);

/* Drops one reference; the last one calls the entry point with
 * DLL_PROCESS_DETACH, then the TLS callbacks, and unmaps the module. */
void pe_unload(void *module);

#ifdef __cplusplus
}
#endif

#endif

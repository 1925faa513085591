/*
 * A small 32-bit Windows DLL through which the loader tests see what Windows
 * code sees of its pointer tables after relocation.
 */
#define PROBE_EXPORT __declspec(dllexport)

/* Pointers in initialized data: each one needs a base relocation. */
static const char *const kWords[] = {"zero", "one", "two"};

PROBE_EXPORT const char *probe_word(int i) { return i >= 0 && i < 3 ? kWords[i] : 0; }

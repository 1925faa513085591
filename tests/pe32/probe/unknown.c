/* A 32-bit Windows DLL that imports what the test loader has no shims for:
 * loading it must fail, naming each import. */
#include <string.h>
#include <windows.h>

__declspec(dllexport) int unknown_imports(const char *text) {
    char *copy = _strdup(text);
    Beep(440, 10);
    MessageBeep(0);
    free(copy);
    return 0;
}

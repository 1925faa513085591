/*
 * A host's typical life with the memory screen driver: load the library, get
 * a driver record, make a block of its own memory the screen, draw into it
 * through the record's slots, and let everything go again.
 *
 *   host [path-to-driver]
 *
 * Exits 0 when every step did what it should.
 */
#include <vantu/driver.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define DEFAULT_DRIVER "VANTU MEM.dll"
#else
#include <dlfcn.h>
#define DEFAULT_DRIVER "libvantu_mem.so"
#endif

enum { WIDTH = 320, HEIGHT = 200, SPRITE = 16 };

/* Every debug message arrives here, already prefixed with "VANTU: ". */
static void VANTU_CALL print_message(SCommonRec *record, const char *text) {
    (void)record;
    fputs(text, stdout);
}

/* Load the library and find its one export, as any host does. */
static VantuDllInitFunc load_driver(const char *path) {
    VantuDllInitFunc init = NULL;
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    FARPROC symbol = module ? GetProcAddress(module, "VANTU_DLL_Init") : NULL;
#else
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    void *symbol = module ? dlsym(module, "VANTU_DLL_Init") : NULL;
#endif
    if (symbol != NULL)
        memcpy(&init, &symbol, sizeof init);
    return init;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : DEFAULT_DRIVER;
    VantuDllInitFunc init = load_driver(path);
    if (init == NULL) {
        fprintf(stderr, "host: cannot load %s\n", path);
        return 1;
    }

    SCommonRec *driver = init(0, print_message);
    if (driver == NULL)
        return 1;

    /* The screen: 16-bit 5-6-5 pixels in memory the host allocates and keeps. */
    uint16_t *pixels = calloc((size_t)WIDTH * HEIGHT, sizeof *pixels);
    SBitmapInfo screen = {WIDTH, HEIGHT, WIDTH * 2, 0, 16, 0xF800, 0x07E0, 0x001F, 0, pixels};
    int ok = pixels != NULL && driver->AllocBuffer(driver, 0, 0, &screen);

    if (ok) {
        SCommonBitmap *scr = driver->screenBitmap;
        /* Colour words hold 7-bit red, green and blue in bytes 0, 1 and 2. */
        uint32_t blue = driver->GetScreenColor(driver, scr, 0x7F0000u);
        uint32_t red = driver->GetScreenColor(driver, scr, 0x00007Fu);
        uint32_t white = driver->GetScreenColor(driver, scr, 0x7F7F7Fu);

        ok = driver->ClearBitmap(driver, scr, blue) && pixels[0] == blue && pixels[WIDTH * HEIGHT - 1] == blue;

        /* Direct drawing into the buffer goes between DrawBegin and DrawEnd. */
        if (ok && driver->DrawBegin(driver) != NULL) {
            pixels[(HEIGHT / 2) * WIDTH + WIDTH / 2] = (uint16_t)white;
            ok = driver->DrawEnd(driver);
        }
        ok = ok && driver->Flip(driver);

        /* An off-screen bitmap gets its size and format from the driver and
           its pixels from the host, then is copied onto the screen. */
        uint16_t spritePixels[SPRITE * SPRITE];
        SCommonBitmap *sprite = driver->InitBitmap(driver, SPRITE, SPRITE);
        SBitmapInfo *info = sprite != NULL ? driver->GetBitmapInfo(driver, sprite) : NULL;
        if (info != NULL) {
            info->bits = spritePixels;
            info->pitch = SPRITE * 2;
            ok = ok && driver->ClearBitmap(driver, sprite, red) &&
                 driver->CopyEntireBitmap(driver, scr, sprite, 8, 8, 0) && pixels[8 * WIDTH + 8] == red;
        } else {
            ok = 0;
        }
        if (sprite != NULL)
            driver->DoneBitmap(driver, sprite);

        ok = driver->Dealloc(driver) && ok;
    }

    driver->Done(driver);
    free(pixels);
    puts(ok ? "host: done" : "host: failed");
    return ok ? 0 : 1;
}

/* A host built against the installed library: its header's version against the package's, then a
 * few calls against a simulated box (SDK_BSP_ROOT). Exits 0 when all answered as the system does;
 * names on standard error each thing that did not. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <sdk_bsp.h>

#if !SDK_BSP_VERSION_CHECK(1, 1, 0) || SDK_BSP_VERSION_CHECK(1, 1, 1)
#error "the header's version macros do not say 1.1.0"
#endif

static int failures;

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "consumer: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    unsigned char buf[64];
    int n = 0, tries;

    check(strcmp(SDK_BSP_VERSION_STRING, "1.1.0") == 0 && SDK_BSP_VERSION_HEX == 0x010100, "version macros");
    check(strcmp(SDK_BSP_VERSION_STRING, PACKAGE_VERSION) == 0, "header and package files differ in version");
    check(READ_resourceName("Local/Led/run") == 501, "READ_resourceName(\"Local/Led/run\") is not 501");
    SetLEDValue("Local/Led/run", 1); /* sets the LED lines up first */

    /* Extension board 1's channel 1 loops back what the host sends. */
    M_COM_INIT();
    BSP_BAU_INIT();
    FSU_COM_READ_THREAD_START();
    check(WriteUart("Local/Uart/6", (const unsigned char *)"hello", 5) == 0, "WriteUart(\"Local/Uart/6\") failed");
    for (tries = 0; n == 0 && tries < 10; ++tries)
        n = ReadUart("Local/Uart/6", buf, (int)sizeof buf, 500);
    check(n == 5 && memcmp(buf, "hello", 5) == 0, "\"hello\" did not come back on Local/Uart/6");

    /* The library's threads run on: leave without exit handlers. */
    fflush(NULL);
    _exit(failures ? 1 : 0);
}

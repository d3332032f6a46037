/* The shortest honest host: start the box, list its resources, talk through an extension board's
 * serial channel, switch an output of the environment equipment and read its answer, read the GPS
 * position and satellite levels, and dial the cellular link. Run it on the box, or on a PC against
 * the simulated box (scripts/demo). The library prints on standard output too: this host's own
 * lines start with "host: ". */
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "sdk_bsp.h"

static void print_hex(const char *what, const unsigned char *data, int n)
{
    int i;
    printf("\nhost: %s (%d bytes):", what, n);
    for (i = 0; i < n; ++i)
        printf(" %02X", data[i]);
    printf("\n");
}

/* Reads a Uart until something arrives or about `tries` waits of 500 ms have passed. */
static int read_some(const char *name, unsigned char *buf, int size, int tries)
{
    int n = 0;
    while (n == 0 && tries-- > 0)
        n = ReadUart(name, buf, size, 500);
    return n;
}

int main(void)
{
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    char gps[SDK_BSP_GPS_INFO_SIZE];
    char levels[SDK_BSP_GPS_DB_TEXT_SIZE];
    char info[256]; /* the Dial API's reports: 145 characters at most */
    unsigned char buf[512];
    static int env_port = 6;
    pthread_t sender;
    int n;

    if (InitializeSDK() != 0)
        return 1;

    /* The LTE supervisor finds the module and keeps its state; a dial request left before it has
     * started would be cleared by its start. */
    FSU_Lte_THREAD_START();
    DialInit();

    ReadFSUResource(list, (int)sizeof list);
    printf("\nhost: resources: %s\n", list);

    /* A round trip through extension board 1, channel 1. */
    WriteUart("Local/Uart/6", (const unsigned char *)"hello", 5);
    n = read_some("Local/Uart/6", buf, (int)sizeof buf, 6);
    print_hex("Local/Uart/6 answered", buf, n);

    /* Output requests travel once a second with the environment send loop, which the host runs. */
    pthread_create(&sender, NULL, ENV_COM_SEND_THREAD, &env_port);
    SetDOValue("Local/DO/2", 1);
    sleep(3);
    n = read_some("Local/Uart/14", buf, (int)sizeof buf - 1, 4);
    buf[n] = 0;
    printf("\nhost: environment equipment answered on Local/Uart/14: %s\n", (const char *)buf);

    /* The dial-up goes on at the supervisor's pace while the rest goes on. */
    printf("\nhost: DialIsOnline before dialling: %d\n", DialIsOnline());
    DialDial("", "");

    /* Position and satellite levels, once the receiver has sent a fix and a full GSV cycle. */
    sleep(3);
    GET_BSP_GPS_INFO(gps);
    printf("\nhost: GPS: %s", gps);
    if (GET_GPS_dB_INFO(levels) == 0) {
        char *end;
        while ((end = strchr(levels, '\n')) != NULL) /* the text has one line per system */
            *end = ' ';
        printf("host: satellite levels: %s\n", levels);
    }

    /* Online once "ppp0" has its address and the supervisor has read it. */
    for (n = 0; n < 30 && DialIsOnline() != 0; ++n)
        sleep(1);
    printf("\nhost: DialIsOnline after dialling: %d\n", DialIsOnline());
    DialGetStaticInfo(info, (int)sizeof info);
    printf("host: static: %s\n", info);
    DialGetDynamicInfo(info, (int)sizeof info);
    printf("host: dynamic: %s\n", info);

    /* The library's threads run until the process ends: leave without running exit handlers
     * under them. */
    fflush(NULL);
    _exit(0);
}

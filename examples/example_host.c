/* The shortest honest host: start the box, list its resources, talk through an extension board's
 * serial channel, read a Modbus meter on a serial port, switch an output of the environment
 * equipment and read its answer, read the GPS position and satellite levels, and dial the cellular
 * link. Run it on the box, or on a PC against the simulated box (scripts/demo). The library prints
 * on standard output too: this host's own lines start with "host: ".
 *
 * example-host --forever does a host's work at a site instead, until it is stopped (keep_working
 * below): the scenarios in examples/scenarios run it against the simulated box. */
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
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

/* CRC-16 of Modbus RTU: reflected polynomial 0xA001 from 0xFFFF; sent low byte first. */
static unsigned crc16(const unsigned char *p, int n)
{
    unsigned crc = 0xFFFF;
    int i;
    while (n-- > 0) {
        crc ^= *p++;
        for (i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

/* The meter on Local/Uart/2 (Modbus RTU, unit 1, 9600 8N1): holding registers 0 to 4 hold the
 * voltage (0.1 V), current (0.01 A), frequency (0.01 Hz) and energy (0.1 kWh, high word first).
 * Returns 1 and the five registers when it answered whole. */
static int poll_meter(unsigned long reg[5])
{
    unsigned char req[8] = {1, 3, 0, 0, 0, 5}, ans[64];
    unsigned crc = crc16(req, 6);
    int n = 0, got, i;

    req[6] = crc & 0xFF;
    req[7] = crc >> 8;
    WriteUart("Local/Uart/2", req, 8);
    /* unit, function, byte count, five registers, CRC: 15 bytes */
    while (n < 15 && (got = read_some("Local/Uart/2", ans + n, (int)sizeof ans - n, 2)) > 0)
        n += got;
    if (n != 15 || ans[1] != 3 || crc16(ans, 13) != (unsigned)(ans[13] | ans[14] << 8))
        return 0;
    for (i = 0; i < 5; ++i)
        reg[i] = (unsigned long)ans[3 + 2 * i] << 8 | ans[4 + 2 * i];
    return 1;
}

static void read_meter(void)
{
    unsigned long reg[5];

    if (!poll_meter(reg)) {
        printf("\nhost: meter: no valid answer\n");
        return;
    }
    printf("\nhost: meter: %.1f V, %.2f A, %.2f Hz, %.1f kWh\n", reg[0] / 10.0, reg[1] / 100.0, reg[2] / 100.0,
           (reg[3] << 16 | reg[4]) / 10.0);
}

/* ---- A host's work at a site, until it is stopped */

/* The mains as this site's equipment takes it: 230 V within 10 %, in the meter's 0.1 V. */
#define VOLTAGE_LOW 2070
#define VOLTAGE_HIGH 2530
#define MISSED_POLLS 3    /* board 2's unit unanswered this many times in a row: an alarm */
#define REDIAL_SECONDS 20 /* a dial takes about 10 s to bring the link up: none again sooner */

/* An LED as this host last set it (-1: not yet), set only when it changes. */
static void set_led(const char *name, int *was, int lit)
{
    if (*was == lit)
        return;
    *was = lit;
    SetLEDValue(name, lit);
    printf("\nhost: %s %s\n", name, lit ? "lit" : "dark");
}

/* Output 1 as this host last set it. An output command carries all four outputs, the others as
 * do_state holds them: the host keeps do_state, the library never does. */
static void set_output1(int *was, int on)
{
    if (*was == on)
        return;
    *was = on;
    SetDOValue("Local/DO/1", on);
    STR_BSP_ENV_INFO.do_state[0] = (uint8_t)on;
    printf("\nhost: Local/DO/1 %s\n", on ? "on" : "off");
}

/* The unit behind extension board 2's first channel (Local/Uart/9) answers what it is sent. */
static int board2_answers(void)
{
    unsigned char buf[64];

    WriteUart("Local/Uart/9", (const unsigned char *)"ping", 4);
    return read_some("Local/Uart/9", buf, (int)sizeof buf, 2) > 0;
}

/* Once a second: feeds the watchdog; reads the meter and, while its voltage is outside 207.0 to
 * 253.0 V, switches output 1 on; polls board 2's unit; lights the alarm LED while the voltage is
 * out, the meter is silent or board 2's unit has missed MISSED_POLLS polls; keeps the cellular
 * link up, dialling again while DialIsOnline says it is down, and lights the net LED while it is
 * up. Never returns. */
static void keep_working(void)
{
    unsigned long reg[5];
    int run = -1, alarm = -1, net = -1, output1 = -1, missed = 0;
    pthread_t sender;
    time_t dialled = 0;

    pthread_create(&sender, NULL, ENV_COM_SEND_THREAD, NULL);
    SoftDogEnable(1, 60000);
    printf("\nhost: working until stopped\n");
    for (;;) {
        int meter = poll_meter(reg);
        int out = meter && (reg[0] < VOLTAGE_LOW || reg[0] > VOLTAGE_HIGH);
        int online = DialIsOnline() == 0;

        SoftDogFeed();
        missed = board2_answers() ? 0 : missed + 1;
        set_output1(&output1, out);
        set_led("Local/Led/run", &run, 1);
        set_led("Local/Led/alarm", &alarm, !meter || out || missed >= MISSED_POLLS);
        set_led("Local/Led/net", &net, online);
        if (!online && time(NULL) - dialled >= REDIAL_SECONDS) {
            printf("\nhost: the link is down: dialling\n");
            DialDial("", "");
            dialled = time(NULL);
        }
        fflush(stdout);
        sleep(1);
    }
}

int main(int argc, char **argv)
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
    if (argc > 1 && strcmp(argv[1], "--forever") == 0)
        keep_working();

    ReadFSUResource(list, (int)sizeof list);
    printf("\nhost: resources: %s\n", list);

    /* A round trip through extension board 1, channel 1. */
    WriteUart("Local/Uart/6", (const unsigned char *)"hello", 5);
    n = read_some("Local/Uart/6", buf, (int)sizeof buf, 6);
    print_hex("Local/Uart/6 answered", buf, n);

    read_meter();

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

    read_meter();

    /* The library's threads run until the process ends: leave without running exit handlers
     * under them. */
    fflush(NULL);
    _exit(0);
}

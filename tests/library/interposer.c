/* A host that defines, with wrong behaviour, functions named like the library's exports that the
 * library's own work relies on, and checks that it still gets the library's own results: none of
 * the library's calls may reach these. Run against the library as built and against the same
 * objects linked without -Bsymbolic-functions, where only calls of hidden functions pass. Its
 * devices are ptys linked under a temporary SDK_BSP_ROOT. Prints one line per failed check. */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sdk_bsp.h"

static int g_failures = 0;
static int g_slept = 0;

/* ---- the host's own functions of the same names, all wrong ---- */

int c2i(char c) { return c == '1' ? 7 : 0; }
int at_tok_start(char **cur) { (void)cur; return -1; }
int at_tok_nextint(char **cur, int *out) { (void)cur; *out = -5; return 0; }
int strStartsWith(const char *line, const char *prefix) { (void)line; (void)prefix; return 0; }
char *to_upper(char *s) { return s; }
char *readline(int maxpolls) { (void)maxpolls; return NULL; }
int writeline(const char *line) { (void)line; return -1; }
uint16_t EnCheckLTH(uint16_t info_bytes) { (void)info_bytes; return 0; }
int EnCheckSum(char *text, uint16_t count) { (void)text; return count; }
void HexToAsc(unsigned char *data, uint16_t count) { memset(data, 'x', count); }
uint16_t Data_Open(unsigned char *data, uint16_t count) { (void)data; return count; }
uint32_t INFo_SUM(const uint8_t *data, uint32_t count) { (void)data; (void)count; return 0x55; }
void mysleep(unsigned int seconds) { g_slept += (int)seconds; }
int SDK_LOG_WRITE(int level, const char *format, ...) { (void)level; (void)format; return 0; }

/* ---- checks ---- */

static void check(int ok, const char *what) {
    if (!ok) {
        printf("FAIL: %s\n", what);
        ++g_failures;
    }
}

static char g_root[] = "/tmp/sdk-bsp-interposer-XXXXXX";

/* Under the root, by the box's path. */
static const char *rooted(const char *box_path) {
    static char path[4][256];
    static int next = 0;
    char *p = path[next++ % 4];
    snprintf(p, sizeof path[0], "%s%s", g_root, box_path);
    return p;
}

/* A raw pty whose slave is linked at the box path under the root, and stays open (so what the
 * device sends waits there while the library opens and closes the port); returns its master. */
static int device(const char *box_path) {
    struct termios raw;
    int master = posix_openpt(O_RDWR | O_NOCTTY), slave;
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0 || tcgetattr(slave, &raw) != 0) return -1;
    raw.c_iflag = 0, raw.c_oflag = 0, raw.c_lflag = 0; /* no translation, no echo */
    tcsetattr(slave, TCSANOW, &raw);
    return symlink(ptsname(master), rooted(box_path)) == 0 ? master : -1;
}

/* Reads exactly n bytes from the master (the device's side of the wire). */
static int wire(int master, char *out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(master, out + got, n - got);
        if (r <= 0) return 0;
        got += (size_t)r;
    }
    return 1;
}

static void codec_and_numbers(void) {
    /* The output command with output 1 on, as the environment send loop sends it. */
    STR_POWER_CMD cmd;
    char frame[SDK_BSP_POWER_FRAME_MAX] = {0};
    char line[] = "+CSQ: 21,99";
    memset(&cmd, 0, sizeof cmd);
    cmd.VER = 0xFF, cmd.ADR = 0xFF, cmd.CID1 = 0x05, cmd.CID2 = 0x55, cmd.INFO_LEN = 10;
    memset(cmd.INFO, 0xFF, 10);
    cmd.INFO[1] = 0x01;
    check(POWER_7E_CMDSend(&cmd, frame) == 38 && strcmp(frame, "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r") == 0,
          "POWER_7E_CMDSend");
    check(hex2dec("1A") == 26, "hex2dec(\"1A\")");
    check(readCSQState(line) == 21, "readCSQState(\"+CSQ: 21,99\")");
}

static void modem(void) {
    char answer[1024] = {0}, sent[7];
    char prefix[] = "+csq";
    const char no_service[] = "\r\n^SYSINFO: 0,0,0,0,1\r\n";
    int master = device("/dev/ttyUSB3");
    check(master >= 0 && at_port_open("/dev/ttyUSB3") == 0, "the AT port");
    check(write(master, "\r\n+csq: 21,99\r\n", 15) == 15, "the module's answer");
    check(write_wait_read("AT+CSQ", prefix, answer, 2, 1) == 0 && strcmp(answer, "+CSQ: 21,99") == 0,
          "write_wait_read");
    check(wire(master, sent, sizeof sent) && memcmp(sent, "AT+CSQ\r", sizeof sent) == 0, "the command written");
    at_port_close();
    /* Not in service: the query waits 2 s, with the library's own sleep. */
    check(write(master, no_service, sizeof no_service - 1) == (ssize_t)(sizeof no_service - 1), "the module's answer");
    check(read_sysinfo("/dev/ttyUSB3") == -1 && g_slept == 0, "read_sysinfo's wait");
    check(wire(master, sent, 4) && memcmp(sent, "AT^S", 4) == 0, "the query written");
}

static void board_link(void) {
    const unsigned char want[] = {0x7E, 0x00, 0x03, 0x80, 'a', 'b', 'c', 0xA9, 0x0D};
    char got[sizeof want];
    int master = device("/dev/ttymxc5");
    check(master >= 0 && BSP_ComCreate(4) == BSP_COM_OK, "board 1's port");
    check(EXT_TTYSCOM_SEND_INFO(4, (const uint8_t *)"abc", 3) == sizeof want && wire(master, got, sizeof got) &&
              memcmp(got, want, sizeof want) == 0,
          "the board-link frame");
}

static void log_records(void) {
    char version[SDK_BSP_VERSION_TEXT_SIZE], text[512] = {0};
    FILE *log;
    STR_LOG_PAR.sys = 2; /* the file only */
    ReadSDKVersion(version, sizeof version);
    log = fopen(rooted("/tmp/sdklog.log"), "r");
    if (log) {
        size_t n = fread(text, 1, sizeof text - 1, log);
        text[n] = '\0';
        fclose(log);
    }
    check(strstr(text, "]:ReadSDKVersion(VQ-" SDK_BSP_VERSION_STRING ")") != NULL, "the library's log record");
}

int main(void) {
    const char *made[] = {"/dev/ttyUSB3", "/dev/ttymxc5", "/tmp/sdklog.log", "/dev", "/tmp"};
    size_t i;
    if (!mkdtemp(g_root) || mkdir(rooted("/dev"), 0700) != 0 || mkdir(rooted("/tmp"), 0700) != 0) return 2;
    setenv("SDK_BSP_ROOT", g_root, 1);
    codec_and_numbers();
    modem();
    board_link();
    log_records();
    for (i = 0; i < sizeof made / sizeof made[0]; ++i) remove(rooted(made[i]));
    remove(g_root);
    printf("%s\n", g_failures ? "the host's functions took the library's calls" : "the library's own results");
    fflush(NULL);
    _exit(g_failures ? 1 : 0);
}

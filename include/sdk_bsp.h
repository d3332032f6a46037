/*
 * sdk_bsp.h - the board-support library of the field supervision unit (FSU).
 *
 * The host (the monitoring application) links against /lib/libsdk_bsp.so and calls the functions
 * below. Everything is plain C (C99 and C++ alike); all state lives in the library, in fixed tables,
 * for the life of the process.
 *
 * Conventions that hold throughout:
 *   - Most calls return 0 for success and -1 for failure; calls documented as "always 0" have no
 *     failure value: on bad input (null pointer, short buffer) they do nothing harmful and still
 *     return 0.
 *   - Results go into buffers the caller supplies, of the sizes stated here.
 *   - Calls are written to the log /tmp/sdklog.log with a level number: 2 errors, 3 the cellular
 *     modem, 4 the Uart API and board-link traces, 5 other API calls and system events, 8 per-call
 *     value traces. Nothing is logged until the log modes are set (SDK_LOG_PAR_INIT, which
 *     InitializeSDK calls).
 *   - Every call may be made from any host thread.
 *
 * Development on a PC: when the environment variable SDK_BSP_ROOT names a directory (a simulated
 * box), every absolute path the library uses is taken under it and the box's tools are looked up in
 * $SDK_BSP_ROOT/bin first. When SDK_BSP_CMDLOG names a file, every shell command the library runs is
 * appended to it, one line each, before it runs.
 */
#ifndef SDK_BSP_H
#define SDK_BSP_H

#include <stdint.h>

#if defined(__GNUC__)
#define SDK_BSP_API __attribute__((visibility("default")))
#else
#define SDK_BSP_API
#endif

#ifdef __cplusplus
#define SDK_BSP_NOEXCEPT noexcept
extern "C" {
#else
#define SDK_BSP_NOEXCEPT
#endif

/* ==============================================================================================
 * SDK log
 *
 * One record per call: "\r\n[YYYY-MM-DD hh:mm:ss <tag> Line=<number, 10 digits>]:<message>".
 * The message gets no line end of its own; the next record's leading "\r\n" closes it.
 *
 *   level  tag          mode word        level  tag          mode word
 *   1      "sdk_SQL  "  sql              5      "sdk_SYS  "  sys
 *   2      "sdk_ERROR"  error            6      "sdk_PIC  "  pic
 *   3      "sdk_NET  "  net              8      "sdk_DEBUG"  debug
 *   4      "sdk_SO   "  so               other  "sdk_OTHER"  other
 *
 * Mode words: 0 off, 1 standard output, 2 the file /tmp/sdklog.log, 3 both; other values output
 * nothing. The record number advances on every call, whatever the mode. When the file has grown past
 * 2 MiB (2097152 bytes) the next record first archives it to /tmp/sdklog.zip (replacing the previous
 * archive) and starts a new file. A record holds at most 102398 characters; a longer message is cut.
 * ============================================================================================== */

/* The eight mode words, in this order. All 0 (log off) until SDK_LOG_PAR_INIT. */
typedef struct {
    int32_t sql;
    int32_t error;
    int32_t net;
    int32_t so;
    int32_t pic;
    int32_t sys;
    int32_t other;
    int32_t debug;
} STR_LOG_PAR_T;

SDK_BSP_API extern STR_LOG_PAR_T STR_LOG_PAR;

/* Writes one record at the given level. Returns 1 when the record was output (mode 1, 2 or 3),
 * else 0 (also for a null format). A failed file write still returns 1. */
SDK_BSP_API int SDK_LOG_WRITE(int level, const char *format, ...) SDK_BSP_NOEXCEPT
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* Sets the modes InitializeSDK uses: level 3 (net) to the file only, every other level to both. */
SDK_BSP_API void SDK_LOG_PAR_INIT(void) SDK_BSP_NOEXCEPT;

/* Turns the whole log off (all eight mode words 0). The library never calls this itself. */
SDK_BSP_API void SDK_LOG_PAR_INIT_NOPRINTF(void) SDK_BSP_NOEXCEPT;

/* Appends text to the file at path, creating it (mode 0700) when missing.
 * Returns 1 written, -1 the file cannot be opened (or path/text is null), -2 its end cannot be
 * sought. The system error is printed on standard error with the prefix "open" or "lseek". */
SDK_BSP_API int SDK_LOG_SAVE_FILE(const char *path, char *text) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Resource names and counts
 *
 * Every local resource has a name and a numeric resource ID:
 *   "Local/Uart/1".."Local/Uart/16"  1..16       "Local/DO/1".."Local/DO/4"    301..304
 *   "Local/AI/1".."Local/AI/32"      101..132    "Local/Bat/1".."Local/Bat/4"  401..404
 *   "Local/DI/1".."Local/DI/32"      201..232    "Local/Led/1".."Local/Led/14" 509..522
 *   "Local/Led/run" 501, "Local/Led/power" 502, "Local/Led/alarm" 503, "Local/Led/net" 504,
 *   "Local/Led/update" 505, "Local/Led/extend1".."Local/Led/extend3" 506..508.
 * Names match exactly (case, no leading zeros, no blanks). RESOURCE_NOT_FOUND (523) means no such
 * resource.
 * ============================================================================================== */

#define SDK_BSP_RESOURCE_NOT_FOUND 523
/* The longest resource list ReadFSUResource writes, terminator included. */
#define SDK_BSP_RESOURCE_LIST_SIZE 868

/* Board presence flags. A flag counts only when it holds exactly 1. Cleared at start-up; the
 * library sets M_COM/EXT_COM when extension board 1/2 announces itself and never clears them
 * again; M_ENV/EXT_ENV are set only by the host. */
typedef struct {
    int32_t M_COM;   /* extension board 1 (serial ports 5..8) has answered */
    int32_t EXT_COM; /* extension board 2 (serial ports 9..12) has answered */
    int32_t M_ENV;   /* environment inputs and outputs: 8 AI, 16 DI, 4 DO */
    int32_t EXT_ENV; /* eight further AI */
} BSP_BOARD_HARDWARE_RESOURCES_T;

SDK_BSP_API extern BSP_BOARD_HARDWARE_RESOURCES_T BSP_BOARD_HARDWARE_RESOURCES;

/* The counts of the last BSP_Resource_CHECK; all 0 before the first one. */
typedef struct {
    int32_t COM;      /* serial ports: 4, 8 or 12 */
    int32_t RESERVED; /* always 0 */
    int32_t AI;       /* analog inputs: 0, 8 or 16 */
    int32_t DI;       /* digital inputs: 0 or 16 */
    int32_t DO;       /* outputs: 0 or 4 */
    int32_t AO;       /* analog outputs: always 0 */
} STR_SYSTEM_RESOURCES_NUM_T;

SDK_BSP_API extern STR_SYSTEM_RESOURCES_NUM_T STR_SYSTEM_RESOURCES_NUM;

/* The resource ID of a name, or 523 when the name is null or unknown. */
SDK_BSP_API int READ_resourceName(const char *name) SDK_BSP_NOEXCEPT;

/* Store a value in one presence flag (any value; only 1 counts). */
SDK_BSP_API void PAR_SET_M_COM_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;
SDK_BSP_API void PAR_SET_EXT_COM_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;
SDK_BSP_API void PAR_SET_M_ENV_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;
SDK_BSP_API void PAR_SET_EXT_ENV_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;

/* Recomputes the counts from the presence flags: COM = 4 (+4 per extension board), AI/DI/DO =
 * 8/16/4 with M_ENV, AI +8 with EXT_ENV. Logs "COM=%d;AI=%d;DI=%d,AO=%d,DO=%d" at level 5 and prints
 * the same text on standard output. */
SDK_BSP_API void BSP_Resource_CHECK(void) SDK_BSP_NOEXCEPT;

/* The stored counts, as last computed (no recount). */
SDK_BSP_API int sdk_read_com_num(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API int sdk_read_ai_num(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API int sdk_read_di_num(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API int sdk_read_do_num(void) SDK_BSP_NOEXCEPT;

/* Recounts, then writes the box's resources as a JSON array of strings without blanks:
 * the serial ports, AI, DI and DO present, then "Local/Led/1".."Local/Led/14", e.g.
 * ["Local/Uart/1","Local/Uart/2","Local/Uart/3","Local/Uart/4","Local/Led/1",...,"Local/Led/14"].
 * The buffer should hold SDK_BSP_RESOURCE_LIST_SIZE (868) bytes; one too short for the list gets an
 * empty string instead. Logs "ReadFSUResource(<list>)" at level 5. Always returns 0. */
SDK_BSP_API int ReadFSUResource(char *buffer, int length) SDK_BSP_NOEXCEPT;

/* The alias of a resource is its name: copied into alias when it fits in length bytes (an empty
 * string otherwise). Logs "ReadResourceAlias(<name>)" at level 5. Always returns 0. */
SDK_BSP_API int ReadResourceAlias(const char *name, char *alias, int length) SDK_BSP_NOEXCEPT;

/* The state of a resource: always 0 (the resource is not examined). Always returns 0. */
SDK_BSP_API int GetResourceState(const char *resource, int *state) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Power-protocol codec
 * ============================================================================================== */

/* The frame of the YD/T 1363 power and environment protocol spoken on the environment channel,
 * as ASCII text:
 *
 *   "~" VER ADR CID1 CID2 LENGTH INFO CHKSUM "\r"
 *
 * Every binary field is written as two upper-case hexadecimal characters, high nibble first.
 * LENGTH is 16 bits: LCHKSUM in bits 12-15 and LENID, the number of INFO characters (twice the
 * INFO bytes), in bits 0-11; LCHKSUM = (16 - (sum of LENID's three nibbles) mod 16) mod 16. CHKSUM
 * is the 16-bit two's complement of the sum of the ASCII codes from VER to the end of INFO. A frame
 * with n INFO bytes is 2n + 18 characters long; with no INFO it is, for example,
 * "~FFFF03540000FD5C\r".
 *
 * None of these functions logs or keeps state: each works on the caller's buffers only and may be
 * called from any thread.
 */

/* The INFO bytes a command record holds, and the longest frame the encoder writes (2 x 256 + 18). */
#define SDK_BSP_POWER_INFO_MAX 256
#define SDK_BSP_POWER_FRAME_MAX 530

/* One command for POWER_7E_CMDSend. Natural C layout, 268 bytes: three padding bytes follow CID2,
 * INFO_LEN is at offset 8 and INFO at offset 12. */
typedef struct {
    uint8_t lead;      /* not read by the encoder */
    uint8_t VER;       /* protocol version */
    uint8_t ADR;       /* device address */
    uint8_t CID1;      /* device type code */
    uint8_t CID2;      /* command code */
    uint32_t INFO_LEN; /* number of INFO bytes, 0 to SDK_BSP_POWER_INFO_MAX */
    uint8_t INFO[SDK_BSP_POWER_INFO_MAX];
} STR_POWER_CMD;

/* Encodes a command as one complete frame, "~" to "\r", into frame, which must hold
 * 2 x INFO_LEN + 18 bytes (SDK_BSP_POWER_FRAME_MAX at most). The frame is not NUL-terminated.
 * Returns the number of characters written, or 0, writing nothing, when cmd or frame is null or
 * INFO_LEN is above SDK_BSP_POWER_INFO_MAX. */
SDK_BSP_API int POWER_7E_CMDSend(const STR_POWER_CMD *cmd, char *frame) SDK_BSP_NOEXCEPT;

/* The LENGTH field for info_bytes INFO bytes: LENID = 2 x info_bytes, kept to its low 12 bits, with
 * its LCHKSUM in bits 12-15. For example 10 bytes give 0xB014, one byte 0xE002, none 0x0000. */
SDK_BSP_API uint16_t EnCheckLTH(uint16_t info_bytes) SDK_BSP_NOEXCEPT;

/* Appends the four CHKSUM characters of the count characters in text at text[count] to
 * text[count + 3] (text must hold count + 4 bytes; no NUL is added) and returns count + 4.
 * A null text gets nothing written. */
SDK_BSP_API int EnCheckSum(char *text, uint16_t count) SDK_BSP_NOEXCEPT;

/* Checks the checksum of a received frame: text holds its count characters from VER through
 * CHKSUM (without "~" and "\r"). Returns 0 when the last four characters spell the checksum of the
 * others, written wholly in upper case or wholly in lower case; 1 otherwise, also for a null text
 * or a count below 4. */
SDK_BSP_API int CheckSum(const char *text, int count) SDK_BSP_NOEXCEPT;

/* Checks the LENGTH of a received frame already converted to binary: length points at its two
 * LENGTH bytes (high byte first), frame_bytes is the binary length from VER through CHKSUM
 * (8 + the INFO bytes). Returns 0 when LENGTH is consistent; 3 when LENID is not
 * 2 x (frame_bytes - 8), also for a frame_bytes below 8 or a null length (LCHKSUM is then not
 * looked at); 1 when LCHKSUM is wrong. */
SDK_BSP_API int CheckLTH(const unsigned char *length, uint16_t frame_bytes) SDK_BSP_NOEXCEPT;

/* Turns nibble values into hexadecimal characters in place: each of the first 2 x (count / 2)
 * bytes becomes '0' + value when below 10, else 'A' + (value - 10). With an odd count the last
 * byte is left as it is. */
SDK_BSP_API void HexToAsc(unsigned char *data, uint16_t count) SDK_BSP_NOEXCEPT;

/* Splits count bytes in place into 2 x count nibble bytes, high nibble first; data must hold
 * 2 x count bytes. Returns 2 x count (in 16 bits). */
SDK_BSP_API uint16_t Data_Open(unsigned char *data, uint16_t count) SDK_BSP_NOEXCEPT;

/* Joins count nibble bytes in place: byte i becomes (nibble 2i << 4) | nibble 2i+1 for i below
 * count / 2, then bytes count / 2 to count - 1 are zeroed. Returns count / 2. */
SDK_BSP_API uint8_t Data_Close(unsigned char *data, uint8_t count) SDK_BSP_NOEXCEPT;

/* The byte that the two hexadecimal characters at text spell, the first one high ("aF" gives
 * 0xAF). "0"-"9", "A"-"F" and "a"-"f" count; any other character counts as the digit 0
 * ("G1" gives 0x01). 0 for a null text. */
SDK_BSP_API uint8_t bsp_AscToHex(const char *text) SDK_BSP_NOEXCEPT;

/* The 16-bit value that the four hexadecimal characters at text spell, the first one most
 * significant; characters count as for bsp_AscToHex. 0 for a null text. */
SDK_BSP_API uint16_t AscToUnShort(const char *text) SDK_BSP_NOEXCEPT;

/* The system clock in whole seconds since 1970-01-01 00:00:00 UTC. */
SDK_BSP_API int32_t READ_SYSTEM_UnixTime(void) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Receive buffers
 * ============================================================================================== */

/* Received serial data waits in sixteen buffers of 4096 bytes, buffer index = Uart ID - 1, filled by
 * the library's receive threads. A buffer keeps the oldest bytes: what arrives while it is full is
 * lost until the application drains it. Bytes are handed out in arrival order, each once. */
#define SDK_BSP_RECV_BUFFERS 16
#define SDK_BSP_RECV_BUFFER_SIZE 4096

/* Takes up to max bytes from receive buffer index (0 to 15), oldest first, and copies them to the
 * area *dest points at, which must hold max bytes (*dest itself is not changed). What is left stays,
 * in order, for the next call. Returns the number of bytes taken, at most 4096: 0 when the buffer
 * is empty, and for an index above 15, a max of 0 or less, or a null dest or *dest. */
SDK_BSP_API int SDK_Read_COM(uint32_t index, unsigned char **dest, int max) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * GPS sentence parser
 * ============================================================================================== */

/* ==============================================================================================
 * Configuration reader
 * ============================================================================================== */

#ifdef __cplusplus
}
#endif

#endif /* SDK_BSP_H */

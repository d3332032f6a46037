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

/* ==============================================================================================
 * Receive buffers
 * ============================================================================================== */

/* ==============================================================================================
 * GPS sentence parser
 * ============================================================================================== */

/* ==============================================================================================
 * Configuration reader
 * ============================================================================================== */

/* Reads options of the box's UCI configuration files (/etc/config/<package>) without starting the
 * uci tool. A query is written as the uci command line would be:
 *     "uci get <package>.<section>.<option>"        e.g. "uci get vqm.sys.pcas"
 * The package name runs to the first '.', the section to the next one, the option is the rest.
 * Package names hold at most 49 characters, section and option names at most 47; a longer or
 * empty name, a query with fewer than two dots or one not starting with "uci get " finds nothing.
 *
 * The answer comes from a plain text search of the file as `uci commit` writes it, not from a
 * UCI parser:
 *   - the section must be a named section, its name in single quotes (config serial 'rs485');
 *     anonymous sections (@type[n], cfgNNNNNN) are not found. The first occurrence of the quoted
 *     name anywhere in the file starts the search, also one inside an earlier option's value;
 *   - the option is the first one after that point written with a blank on each side of its name
 *     (option baud '9600'), also when that text lies inside another value of the section; when a
 *     section header ("config") comes first, the option belongs to a later section: not found;
 *   - the value is the text between the single quotes that follow the name: a list ("list") gives
 *     its first item, and an escaped quote ('\'') ends the value. An unquoted value, or one whose
 *     closing quote is missing, is not found.
 * A value of more than 99 characters is cut to its first 99. A package file that is not a regular
 * file or is larger than 1 MiB counts as unreadable.
 *
 * The results live in buffers of the library, overwritten by the next call of the same function:
 * copy the value out before calling it again. The calls take no lock: hosts that call them from
 * several threads must serialise the calls. None of them writes to the SDK log. */

/* The option's value from memory copies of the packages "Device", "vqm", "EnvironmentPar",
 * "monitor", "network" and "ks" (other packages find nothing). The first call loads the six files
 * in that order; a file that cannot be read leaves it and the packages after it without a copy.
 * Later changes to the files are not seen until sdkuci_free drops the copies.
 * Returns the value in a 100-byte buffer, or an empty string when nothing was found; never null. */
SDK_BSP_API char *sdkuci_get_ram(const char *query) SDK_BSP_NOEXCEPT;

/* The option's value read afresh from /etc/config/<package>, any package. Returns the value in a
 * 100-byte buffer of its own, or an empty string when nothing was found or the file cannot be
 * read; never null. */
SDK_BSP_API char *sdkuci_get_flash(const char *query) SDK_BSP_NOEXCEPT;

/* Drops the copies of sdkuci_get_ram (if loaded); its next call loads the files again. */
SDK_BSP_API void sdkuci_free(void) SDK_BSP_NOEXCEPT;

/* The names in a directory, "." and ".." included, in the order the file system gives them, each
 * followed by "\n", in a 10000-byte buffer of the library (overwritten by the next call); names
 * that would not fit are left out from the first one that does not. Returns null, after printing
 * "can't open <path>\n" on standard output, when the directory cannot be opened (and null, with
 * nothing printed, for a null path). */
SDK_BSP_API char *sdkls(const char *path) SDK_BSP_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* SDK_BSP_H */

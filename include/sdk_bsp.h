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

#include <pthread.h>
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
 * Start-up
 * ============================================================================================== */

/* Brings the whole box up, once per process, in this order: log modes on (SDK_LOG_PAR_INIT), the
 * log line "InitializeSDK", board presence flags cleared, the LED lamp test (1 s), the seven ports
 * opened at 115200 8N1, 9600 8N1 stored and applied for the sixteen Uarts (nine settings frames to
 * the boards), the seven receive threads started, the watchdog record reset, a 2 s pause for the
 * extension boards to announce themselves, the resources counted ("COM=...;AI=..."), the watchdog
 * thread started, the stored GPS positioning mode applied. About 6 s in all. Returns 0; -1 (doing
 * nothing) on every later call. The environment send loop (ENV_COM_SEND_THREAD) and the LTE
 * supervisor are not started: the host starts them itself. The library's threads run until the
 * process ends: a host that ends should leave with _exit() rather than return from main, so that no
 * exit handler or static destructor runs under them. */
SDK_BSP_API int InitializeSDK(void) SDK_BSP_NOEXCEPT;
/* Logs "UninitializeSDK" and nothing else: threads and ports live until the process ends, and the
 * library cannot be started again. Always returns 0. */
SDK_BSP_API int UninitializeSDK(void) SDK_BSP_NOEXCEPT;
/* Once per process: BOARD_HARDWARE_RESOURCES_INIT. */
SDK_BSP_API void SYSTEM_INIT(void) SDK_BSP_NOEXCEPT;
/* Clears the four board presence flags. */
SDK_BSP_API void BOARD_HARDWARE_RESOURCES_INIT(void) SDK_BSP_NOEXCEPT;

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

/** @defgroup maintenance Device information and maintenance
 *  Identify the library and the box, install an update of the library, set the clock, manage the
 *  FTP accounts, and the small file and command helpers these calls use.
 *
 *  The work is done by shell commands (system or popen through /bin/sh); their exit status is not
 *  examined unless a call says so. Caller text that goes into a command (the clock text, the FTP
 *  user, password and path, the update package's path) must be text the shell takes literally:
 *  no quote (' or "), ;, |, &, $, `, <, >, (, ), \, line end or other control character anywhere;
 *  and in the arguments that stand unquoted (all but the clock text) also no blank, *, ? or [, no
 *  leading -, # or ~, and not empty. Other text is refused: the call runs no command, returns -1
 *  and logs at level 2 "<call>: <argument> refused, <why>", with <why> one of "absent" (a null
 *  text), "the shell would not take it literally", "too long for its command"; for example
 *  "SetFtp: password refused, the shell would not take it literally".
 *
 *  With SDK_BSP_ROOT set, every absolute path these calls open or put into a command is taken
 *  under it, the caller's paths included; ReadsyscmdReturn runs its command as given.
 *  @{ */

/** The size of the buffer ReadSDKVersion needs: "VQ-1.1.0" and its terminator. */
#define SDK_BSP_VERSION_TEXT_SIZE 9
/** The size of the buffer ReadHardwareInformation needs: the JSON text and its terminator. */
#define SDK_BSP_HARDWARE_INFO_SIZE 70

/**
 * Writes the library's version text, "VQ-1.1.0".
 *
 * Clears the first length bytes of the buffer (none when length is not positive), then writes the
 * 8 characters and a terminator whatever length says.
 *
 * @param buffer  receives the text; at least SDK_BSP_VERSION_TEXT_SIZE (9) bytes. Null: nothing is
 *                written and nothing logged.
 * @param length  the number of bytes to clear first.
 * @return 0, always.
 * @par Log
 *   "ReadSDKVersion(VQ-1.1.0)" at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadSDKVersion(char *buffer, int length) SDK_BSP_NOEXCEPT;

/**
 * Writes the box's hardware information as UTF-8 JSON.
 *
 * The text is {"产品型号":"VQM-KP-2000A1","生产日期":"2022-07-01 08:30:00"} (product model and
 * production date, 69 bytes), followed by its terminator: 70 bytes, whatever length says.
 *
 * @param buffer  receives the text; at least SDK_BSP_HARDWARE_INFO_SIZE (70) bytes. Null: nothing
 *                is written and nothing logged.
 * @param length  not examined.
 * @return 0, always.
 * @par Log
 *   "ReadHardwareInformation(<the text>)" at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadHardwareInformation(char *buffer, int length) SDK_BSP_NOEXCEPT;

/**
 * Installs an update of the library from a package file.
 *
 * Only a path that contains "/CAIRN_KIT_SDK.tar.gz" names a package; any other path (or null)
 * returns 0 at once and runs no command. Otherwise, in order: "mkdir /tmp/sdk", "mv <path>
 * /tmp/sdk/CAIRN_KIT_SDK.tar.gz" (the package file is moved, not copied), "gunzip
 * /tmp/sdk/CAIRN_KIT_SDK.tar.gz", "tar -xf /tmp/sdk/CAIRN_KIT_SDK.tar"; then the first 32 bytes
 * of /tmp/sdk/file.md5 are compared with the first word of "md5sum /tmp/sdk/libsdk_bsp.so" (run
 * through ReadsyscmdReturn), and when they are equal "cp /tmp/sdk/libsdk_bsp.so
 * /lib/libsdk_bsp.so" installs the new library.
 *
 * The package is a gzip-compressed tar archive of two members, tmp/sdk/file.md5 (the library's
 * MD5 as 32 hexadecimal digits) and tmp/sdk/libsdk_bsp.so. tar unpacks them relative to the
 * working directory, so the host must run with its working directory at the box's root / (under
 * SDK_BSP_ROOT: at that root). /tmp/sdk is kept after the update, and gunzip does not overwrite
 * a /tmp/sdk/CAIRN_KIT_SDK.tar left by an earlier update: remove it first, or the old archive is
 * unpacked again. cp rewrites /lib/libsdk_bsp.so in place: restart the host after an update.
 *
 * @param path  the package file; at most 478 characters; text the shell takes literally as an
 *              unquoted word (see the section's introduction).
 * @return 0 when the path names no package, when the library was installed and when the hash did
 *         not match (nothing installed); -1 when file.md5 does not yield 32 bytes, when the hash
 *         cannot be computed, or when the path is refused.
 * @par Log
 *   "UpdateSDK(<path>)" at level 5, first ("(null)" for a null path); a refusal at level 2
 *   ("UpdateSDK: path refused, ...").
 * @par Threads
 *   Any thread; one update at a time (they share /tmp/sdk).
 */
SDK_BSP_API int UpdateSDK(const char *path) SDK_BSP_NOEXCEPT;

/**
 * Sets the system clock and stores it in the hardware clock.
 *
 * The text is cut to its first 29 characters, then runs as "date -s '<text>'", followed by
 * "hwclock -w". The software watchdog is fed after each of the two commands, so its countdown
 * restarts on the new clock.
 *
 * @param time  a time as the box's date -s takes it, e.g. "2024-07-01 08:30:00"; text the shell
 *              takes literally inside single quotes (blanks allowed).
 * @return 0 once the commands have run (their results are not examined); -1 for a null text
 *         (nothing logged) or a refused one.
 * @par Log
 *   "SetRtc <time>;set_cmd=date -s '<time, cut>'" at level 5, after the commands; a refusal at
 *   level 2 ("SetRtc: time refused, ...").
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetRtc(const char *time) SDK_BSP_NOEXCEPT;

/**
 * Adds an FTP account through the box's account script.
 *
 * Runs "mkdir <path>" when the path does not exist, then "user.sh add <user> <password> <path>".
 *
 * @param user      the account name; literal as an unquoted word.
 * @param password  its password; literal as an unquoted word.
 * @param path      its home directory; literal as an unquoted word.
 * @return 0 once the commands have run (their results are not examined); -1 for a null path, or
 *         when an argument is refused.
 * @par Log
 *   "fun=SetFtp,usr =<user>,password=<password>,path=<path>" at level 8, first, the password in
 *   plain text ("(null)" for a null argument); a refusal at level 2 ("SetFtp: user refused, ...";
 *   "SetFtp: arguments refused, too long for its command" when the command would pass 511
 *   characters).
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetFtp(const char *user, const char *password, const char *path) SDK_BSP_NOEXCEPT;

/**
 * Deletes an FTP account through the box's account script: "user.sh del <user>".
 *
 * @param user  the account name; literal as an unquoted word.
 * @return -1, always (also when the account was deleted).
 * @par Log
 *   "fun=DelFtp,usr =<user>" at level 8, first; a refusal at level 2 ("DelFtp: user refused, ...").
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DelFtp(const char *user) SDK_BSP_NOEXCEPT;

/**
 * A placeholder for the extension types: does nothing.
 *
 * @param types   not examined.
 * @param length  not examined.
 * @return -2, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetSupportedExtendType(char *types, int length) SDK_BSP_NOEXCEPT;

/**
 * A placeholder for adding an extension: does nothing.
 *
 * @param type        not examined.
 * @param parameters  not examined.
 * @return -1, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int AddExtend(const char *type, const char *parameters) SDK_BSP_NOEXCEPT;

/**
 * Tells whether a path exists (a file, a directory or anything else; permissions aside).
 *
 * @param path  the path; null counts as missing.
 * @return 1 when it exists, else 0.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int IsFileExist(const char *path) SDK_BSP_NOEXCEPT;

/**
 * The size of a file in bytes, from its status.
 *
 * @param path  the file.
 * @return its size (2147483647 for a larger file), or -1 when its status cannot be read.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int FSU_get_file_size(const char *path) SDK_BSP_NOEXCEPT;

/**
 * Opens a file read-only.
 *
 * @param path  the file.
 * @return a descriptor, close-on-exec, which the caller closes; -1 on any failure.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int FSU_get_fd(const char *path) SDK_BSP_NOEXCEPT;

/**
 * Reads the start of a file into a buffer.
 *
 * Opens the file for reading and writing (so a read-only file fails) and reads the smaller of its
 * size and size bytes. The buffer gets no terminator.
 *
 * @param path    the file.
 * @param buffer  receives the bytes; at least size bytes.
 * @param size    the most bytes to read.
 * @return the number of bytes placed in the buffer; 0 when the path does not exist, the buffer is
 *         null, size is not positive or the read fails; -1 when the file cannot be opened.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int Read_Data_File(const char *path, char *buffer, int size) SDK_BSP_NOEXCEPT;

/**
 * Runs a shell command and keeps the first word of its output.
 *
 * Clears size bytes of the buffer and reads at most size - 1 bytes of the command's standard
 * output (so the text always ends in a terminator; a longer first word is cut). An output that
 * contains "Entry" or "can't" gives an empty text; otherwise every blank, carriage return and line
 * feed of the size bytes becomes a terminator, leaving the first word. A command that cannot be
 * started gives an empty text. The command runs as given: the caller owns its text.
 *
 * @param command  the command line for /bin/sh.
 * @param buffer   receives the text; size bytes.
 * @param size     the buffer's size; nothing is done when it is not positive.
 * @return the buffer.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API char *ReadsyscmdReturn(const char *command, char *buffer, int size) SDK_BSP_NOEXCEPT;

/** @} */

/* ==============================================================================================
 * Serial port objects
 *
 * Seven serial ports, by port index: 0..3 "/dev/ttymxc1".."/dev/ttymxc4" (pass-through ports,
 * "Local/Uart/1".."Local/Uart/4"), 4 "/dev/ttymxc5" and 5 "/dev/ttymxc6" (links to extension
 * boards 1 and 2), 6 "/dev/ttymxc7" (the GPS receiver). The operations return a status code and
 * print, before every error return, "ERROR: FILE:bsp_m_com, FUNCTION:<name>, LINE:<n>,
 * ErrNo:0x<code>." on standard output.
 * ============================================================================================== */

#define BSP_COM_OK 0u
#define BSP_COM_ERR_PARAM 0x1020001u  /* bad port index or record size, unsupported setting, termios failure */
#define BSP_COM_ERR_IO 0x1020002u     /* read or write on the device failed */
#define BSP_COM_ERR_DEVICE 0x1020004u /* the device could not be opened, is not open, or flush failed */

/* Line settings for SDK_BSP_ComSetParams. */
typedef struct {
    uint32_t nSize;     /* must be sizeof(ComParams), 24 */
    uint32_t reserved;  /* 0 */
    uint32_t nBaudrate; /* 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600 or 115200 */
    uint32_t nDataBits; /* 5..8 */
    uint32_t nStopBits; /* 0 or 1: one stop bit; 2: two */
    uint32_t nParity;   /* 0 none, 1 odd, 2 even */
} ComParams;

/* Filled by SDK_BSP_ComGetCapbility; the words not named are left as the caller set them. */
typedef struct {
    uint32_t nSize; /* must be sizeof(ComCapability), 28 */
    uint32_t reserved1;
    uint32_t nMinBaudrate; /* receives 600 */
    uint32_t nMaxBaudrate; /* receives 115200 */
    uint32_t reserved2[3];
} ComCapability;

/* Opens the port's device (read-write, synchronous writes) and prints
 * "BSP_ComCreate(<index>, <device>) success !" or "... Failed !". */
SDK_BSP_API uint32_t BSP_ComCreate(uint32_t index) SDK_BSP_NOEXCEPT;
/* Closes the port; it is not open afterwards. */
SDK_BSP_API uint32_t SDK_BSP_ComDestroy(uint32_t index) SDK_BSP_NOEXCEPT;
/* The number of ports: 7. */
SDK_BSP_API uint32_t SDK_BSP_ComGetSlots(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API uint32_t SDK_BSP_ComGetCapbility(uint32_t index, ComCapability *cap) SDK_BSP_NOEXCEPT;
/* Applies line settings in raw mode; reads then never wait. Nothing is applied when a value is
 * refused ("Unsupported nBaudrate %d", "Unsupported parity %d", "Unsupported data bits %d",
 * "Unsupported stop bits %d" on standard output). */
SDK_BSP_API uint32_t SDK_BSP_ComSetParams(uint32_t index, const ComParams *params) SDK_BSP_NOEXCEPT;
/* Writes all len bytes under the port's write lock, so one caller's buffer reaches the wire
 * unbroken; *written receives len on success, 0 otherwise (written may be null). */
SDK_BSP_API uint32_t SDK_BSP_ComWrite(uint32_t index, const uint8_t *data, uint32_t len,
                                      uint32_t *written) SDK_BSP_NOEXCEPT;
/* One read of at most len bytes; *got receives the count (0 when nothing waits). */
SDK_BSP_API uint32_t SDK_BSP_ComRead(uint32_t index, uint8_t *buf, uint32_t len, uint32_t *got) SDK_BSP_NOEXCEPT;
/* Discards pending input and output. */
SDK_BSP_API uint32_t SDK_BSP_ComFlush(uint32_t index) SDK_BSP_NOEXCEPT;
/* Once per process: opens the seven ports and sets each to 115200 baud 8N1. */
SDK_BSP_API void M_COM_INIT(void) SDK_BSP_NOEXCEPT;
/* SDK_BSP_ComSetParams in short: stop bits 2 means two, anything else one; parity 0 none, 1 odd,
 * anything else even. Returns the low byte of the status (0, 1 or 4), 255 for an index above 7. */
SDK_BSP_API uint8_t M_BAU_SET_COM(uint32_t index, uint32_t baud, uint8_t dataBits, uint8_t stopBits,
                                  uint8_t parity) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Board link and link watchdog
 *
 * Frames to and from the extension boards: 0x7E, payload length (16 bits, big-endian), CID,
 * payload, 8-bit sum of the length, CID and payload bytes, 0x0D. Channel data to board channel k
 * goes with CID 0x80+k, line settings with 0x60+k (payload: baud rate 32 bits big-endian, data
 * bits, stop bits, parity). The environment channel is board 1's channel 4 (CID 0x84 / 0x64).
 * Channel indexes are receive-buffer indexes (Uart ID - 1): 4..7 board 1 channels 0..3, 8..11
 * board 2 channels 0, 2, 1, 3. Data longer than one frame holds (5114 bytes) is sent in several
 * frames. Senders return the bytes the port took (0 when nothing was sent).
 * ============================================================================================== */

/* The sum of count bytes, modulo 256. */
SDK_BSP_API uint32_t INFo_SUM(const uint8_t *data, uint32_t count) SDK_BSP_NOEXCEPT;
SDK_BSP_API uint32_t EXT_TTYSCOM_SEND_INFO(int32_t index, const uint8_t *data, uint32_t len) SDK_BSP_NOEXCEPT;
SDK_BSP_API uint32_t EXT_TTYSCOM_SET_BAU(int32_t index, uint32_t baud, uint32_t dataBits, uint32_t stopBits,
                                         uint32_t parity) SDK_BSP_NOEXCEPT;
SDK_BSP_API uint32_t ENV_TTYSCOM_SEND_INFO(const uint8_t *data, uint32_t len) SDK_BSP_NOEXCEPT;
SDK_BSP_API int32_t ENV_TTYSCOM_SET_BAU(uint32_t baud, uint32_t dataBits, uint32_t stopBits,
                                        uint32_t parity) SDK_BSP_NOEXCEPT;
/* A one-byte frame with CID (ch - 0x57) mod 256 to board 2; prints "EXT_TOP_DO_SET CH%d =%d\r\n".
 * Leaves the keep-alive count alone. */
SDK_BSP_API int32_t EXT_TOP_DO_SET(uint32_t ch, uint32_t value) SDK_BSP_NOEXCEPT;
/* The keep-alive frame 7E 00 00 92 92 0D to board 0 (port 4) or 1 (port 5); logs
 * "COM DOG RUN EXT1 COM" / "COM DOG RUN EXT2 COM" at level 5. */
SDK_BSP_API uint32_t EXT_TTYSCOM_app_dog(uint32_t board) SDK_BSP_NOEXCEPT;
/* One keep-alive tick (the watchdog thread calls it every second): a board sent nothing for more
 * than 20 ticks gets a keep-alive. Every frame sent to a board restarts its count. */
SDK_BSP_API void RunComDog(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API void Rest_cnt_com_dog(int32_t board) SDK_BSP_NOEXCEPT;
/* Ticks since the last frame to board 0 or 1; 0 for any other board. */
SDK_BSP_API uint32_t Return_ComDog_Cnt(int32_t board) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Receive threads
 *
 * Seven threads poll the ports into the receive buffers: pass-through ports 0..3 every 200 ms into
 * buffers 0..3; the board links (ports 4 and 5) every 100 ms, cut into frames: CID 0x41 marks the
 * board present (BSP_BOARD_HARDWARE_RESOURCES), CID 0x50+k brings channel k's data (board 1: buffers
 * 4..7; board 2: channels 0, 1, 2, 3 into buffers 8, 10, 9, 11), CID 0x54 the environment channel's
 * (buffer 13); the GPS port (6) every 100 ms into buffer 15 and the sentence parser. Each prints
 * "STUMP[<port>]: FILE: com_process, FUNCTION: <name>, LINE: <n>." when it starts.
 * ============================================================================================== */

/* Once per process: starts the seven threads, then prints its own STUMP line numbered 010. */
SDK_BSP_API void FSU_COM_READ_THREAD_START(void) SDK_BSP_NOEXCEPT;
/* Thread routines; arg points at an int holding the port index. They never return (a
 * pass-through thread for a port above 3 returns at once). */
SDK_BSP_API void *M_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;
SDK_BSP_API void *EXT_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;
/* The frame cutter. acc holds fill bytes (at most 5120) of a board's stream; the first position
 * that starts a whole frame (0x7E, length, ..., 0x0D where the length says) wins: the frame is
 * copied to msg (5120 bytes), it and everything before it leave acc, *new_fill gets what remains.
 * Returns the frame's length, or 0 (nothing changed) when acc holds no whole frame. */
SDK_BSP_API int read_a_msg(unsigned char *acc, unsigned char *msg, int fill, int *new_fill) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Environment link
 * ============================================================================================== */

/* The environment record: input values and output requests. Cleared when the GPS read loop starts;
 * the library writes no input value into it afterwards. */
typedef struct {
    int32_t reserved0[16];
    float ai_kind0[16];     /* AI n at element n-1, read for value kind 0 */
    float ai_other[16];     /* AI n at element n-1, read for any other kind */
    uint8_t di[16];         /* DI n at element n-1, 0 or 1 */
    uint8_t do_state[8];    /* present state of DO n, 1 = on (read as DI 17..24) */
    uint8_t reserved1[36];
    uint8_t do_request[8];  /* 1 = a change of DO n is pending */
    uint8_t do_value[8];    /* requested value of DO n, 1 = on, anything else off */
} STR_BSP_ENV_INFO_T;

SDK_BSP_API extern STR_BSP_ENV_INFO_T STR_BSP_ENV_INFO;

/* 1 when any of the eight output request flags is set (printing "ready set do <n>" for the
 * first), else -1. */
SDK_BSP_API int DO_API_SET_CHECK(void) SDK_BSP_NOEXCEPT;
/* Builds the output-command frame into frame (at least 38 bytes, not NUL-terminated): the mask of
 * DO 1..4 carries the requested value of each output with a pending request (consuming it) and the
 * present state of the others. Returns the frame's length (38), 0 for a null frame. */
SDK_BSP_API int SET_DO_CMD(char *frame) SDK_BSP_NOEXCEPT;
/* A one-shot latch for the host: SET sets it; REAG returns it (1 once after a SET) and resets it. */
SDK_BSP_API void SET_ENV_BOARD_RIGHT_FG(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API uint32_t REAG_ENV_BOARD_RIGHT_FG(void) SDK_BSP_NOEXCEPT;
/* The environment send loop, for the host to run in a thread of its own (the library never starts
 * it): sets the environment channel to 9600 8N1, prints "fun-ENV_COM_SEND_THREAD=<port>\r\n", then
 * once a second sends either the output-command frame (when a request is pending) or the poll
 * "~FFFF03540000FD5C\r" to the environment equipment. arg points at an int (a port index, used
 * only in the traces). Without it, output requests stay pending. Never returns. */
SDK_BSP_API void *ENV_COM_SEND_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/* The GPS read loop (port 6 at 9600 8N1): gathers the receiver's bytes in buffer 15 and hands
 * batches of more than 1024 bytes to BSP_GPS_READ, then logs "GPS:J:<lon>;W:<lat>" at level 5.
 * arg points at an int holding the port index. Never returns. */
SDK_BSP_API void *ENV_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Uart API
 *
 * "Local/Uart/1".."Local/Uart/16" by name:
 *   1..4   pass-through ports 0..3          reads from receive buffers 0..3
 *   5..8   board 1, channels 0..3           reads from buffers 4..7
 *   9..12  board 2, channels 0, 2, 1, 3     reads from buffers 8..11
 *   13     settings stored only; writes refused; reads always empty
 *   14     the environment channel (board 1, channel 4); reads from buffer 13
 *   15     settings stored only; writes refused; reads always empty
 *   16     settings stored only; reads and writes refused
 * Line settings: baud rate, data bits, stop bits (1 or 2), parity (0 none, 1 odd, 2 even); the
 * default, applied at start-up, is 9600 8N1.
 * ============================================================================================== */

/* Stores and applies line settings. Returns 0 for a Uart name (whether or not the port or board
 * accepted them), -1 otherwise. Logs "SetUartParam:<name> iBaudRate:%d,iDataSize:%d,iStopBit:%d,
 * iParity:%d,result:%d" at level 4. */
SDK_BSP_API int SetUartParam(const char *name, int iBaudRate, int iDataSize, int iStopBit, int iParity) SDK_BSP_NOEXCEPT;
/* The stored settings (what was last set). -1 for a name that is not a Uart, the places untouched.
 * Logs "GetUartParam:..." like SetUartParam. */
SDK_BSP_API int GetUartParam(const char *name, int *iBaudRate, int *iDataSize, int *iStopBit,
                             int *iParity) SDK_BSP_NOEXCEPT;
/* Takes up to length received bytes (at most 4096). If none are there, waits once (timeout - 1 ms,
 * at least 1 ms) and tries once more. Returns the count (0 when none came), -1 for Uart 16, a name
 * that is not a Uart, or a null buffer. */
SDK_BSP_API int ReadUart(const char *name, unsigned char *buffer, int length, unsigned int timeout) SDK_BSP_NOEXCEPT;
/* Prints the bytes as "%02x " each, then hands them to the port, or as board-link frames to the
 * board channel, that carries the Uart. Returns 0 for Uarts 1..12 and 14 (whatever the device
 * reported), -1 otherwise. Logs "WriteUart resourceName:%s TXLENTH:%d,result=%d" at level 4. */
SDK_BSP_API int WriteUart(const char *name, const unsigned char *data, int length) SDK_BSP_NOEXCEPT;
/* The start-up defaults: 9600 8N1 stored for all sixteen Uarts and applied (ports 0..3 set, nine
 * settings frames to the boards). */
SDK_BSP_API void BSP_BAU_INIT(void) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Input and output values
 *
 * Served from the environment record STR_BSP_ENV_INFO, by resource name:
 *   "Local/AI/1".."Local/AI/16"   analog inputs, from ai_kind0 (value kind 0) or ai_other (any
 *                                 other kind), element n-1 for AI n
 *   "Local/DI/1".."Local/DI/16"   digital inputs, from di
 *   "Local/DI/17".."Local/DI/24"  the present states of the outputs, from do_state (DI 16+n is
 *                                 output n)
 *   "Local/DO/1".."Local/DO/4"    output requests
 * The other AI, DI and battery names exist but serve no value. Nothing here touches a device:
 * reads return what the record holds (all 0 unless something stores values there), and an output
 * request waits in the record until the environment send loop (ENV_COM_SEND_THREAD), when the
 * host runs it, sends it within a second. Each host call logs one line at level 8 after its work,
 * whatever its result.
 * ============================================================================================== */

/* The text GetAIValue_String writes, terminator included: room for "%f" of any float. */
#define SDK_BSP_AI_TEXT_SIZE 48

/* The AI value of the name into *value: 0, or -1 with *value untouched (a name that is not
 * AI 1..16, or a null value). Logs "Local/AI/ Resources error" at level 8 for a name that is not
 * AI 1..16, then "GetAIValue resourceName:%s type=%d,Value=%f;result=%d" with *value as it is
 * after the call. */
SDK_BSP_API int GetAIValue(const char *resourceName, int type, float *value) SDK_BSP_NOEXCEPT;
/* As GetAIValue, the value written as text with "%f" (six decimals, e.g. "12.500000") into text,
 * which must hold SDK_BSP_AI_TEXT_SIZE (48) bytes. After a failed read the text is "0.000000".
 * Returns -1 also for a null text (nothing written). Logs
 * "GetAIValue resourceName:%s type=%d,Value=%s;result=%d". */
SDK_BSP_API int GetAIValue_String(const char *resourceName, int type, char *text) SDK_BSP_NOEXCEPT;
/* The DI value of the name (0..255, in practice 0 or 1) into *value: 0, or -1 with *value
 * untouched (a name that is not DI 1..24, or a null value). Logs
 * "GetDIValue resourceName:%s,Value=%d" with *value as it is after the call. */
SDK_BSP_API int GetDIValue(const char *resourceName, int *value) SDK_BSP_NOEXCEPT;
/* Battery values are not served: always -1, *value untouched. Logs
 * "GetBatValue resourceName:%s,Value=%f" with *value as the caller left it. */
SDK_BSP_API int GetBatValue(const char *resourceName, float *value) SDK_BSP_NOEXCEPT;
/* Requests output DO 1..4 on (value 1) or off (any other value; only its low 8 bits are kept, so
 * 257 means on). A later request for the same output before it is sent replaces it. Returns 0,
 * or -1 for a name that is not DO 1..4 (nothing recorded). Logs
 * "SetDOValue resourceName:%s,Value=%d" with the value as given. */
SDK_BSP_API int SetDOValue(const char *resourceName, int value) SDK_BSP_NOEXCEPT;

/* The same by resource ID (101..116, 201..224, 301..304), without the API log line. */
SDK_BSP_API int Read_AI_VALUE_FromResourceName(int id, int type, float *value) SDK_BSP_NOEXCEPT;
SDK_BSP_API int Read_DI_VALUE_FromResourceName(int id, int *value) SDK_BSP_NOEXCEPT;
/* Always -1, nothing written. */
SDK_BSP_API int Read_Bat_VALUE_FromResourceName(int id, float *value) SDK_BSP_NOEXCEPT;
/* Stores the value's low 8 bits as output (id - 300)'s requested value, then marks the request
 * pending. */
SDK_BSP_API int SetDOValue_FromResourceName(int id, int value) SDK_BSP_NOEXCEPT;
/* Kept for hosts that call them; no effect. The first two return 1. */
SDK_BSP_API int OFFSET_VALUE_INIT(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API int AI_Calibration_Check(void) SDK_BSP_NOEXCEPT;
SDK_BSP_API void BSP_AIDI_INIT(void) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * GPIO, LEDs and the switched 12 V output
 *
 * GPIO lines through sysfs: /sys/class/gpio/export and unexport, /sys/class/gpio/gpio<N>/direction,
 * value and edge. Each primitive opens the file, writes or reads, closes it, and returns 0, or -1
 * after printing on standard output:
 *   bsp_gpio_export     "Failed to open export for writing!\n"      "Failed to export gpio!"
 *   bsp_gpio_unexport   "Failed to open unexport for writing!\n"    "Failed to unexport gpio!"
 *   bsp_gpio_direction  "Failed to open gpio direction for writing!\n"  "Failed to set direction!\n"
 *   SDK_bsp_gpio_write  "Failed to open gpio value for writing!\n"  "Failed to write value!\n"
 *   bsp_gpio_read       "Failed to open gpio value for reading!\n"  "Failed to read value!\n"
 *   bsp_gpio_edge       "Failed to open gpio edge for writing!\n"   "Failed to set edge!\n"
 * (the first when the file cannot be opened, the second when the write or read fails).
 *
 * LEDs hang on active-low lines (lit while the line is 0): "Local/Led/run" GPIO 1,
 * "Local/Led/alarm" GPIO 18, "Local/Led/net" GPIO 0, "Local/Led/1" GPIO 4; the other LEDs have no
 * line. The first LED operation of the process exports these four lines, sets them to output and
 * dark, printing "LED_GPIO_INIT=<n>\r\n" and "LED_GPIO_INIT=<n> ok\r\n" for each; they are never
 * unexported.
 * ============================================================================================== */

/* GPIO number of an LED without a line. */
#define SDK_BSP_NO_GPIO 65535
#define SDK_BSP_LED_ROWS 22

/* One LED: its resource ID and GPIO number (SDK_BSP_NO_GPIO for none). */
typedef struct {
    int32_t resource;
    int32_t gpio;
} LED_GPIO_T;

/* The LEDs 501..522 in ID order (read-only). */
SDK_BSP_API extern const LED_GPIO_T LED_GPIO_LIST[SDK_BSP_LED_ROWS];

/* Writes the number (decimal, no line end) to /sys/class/gpio/export or unexport. */
SDK_BSP_API int bsp_gpio_export(int gpio) SDK_BSP_NOEXCEPT;
SDK_BSP_API int bsp_gpio_unexport(int gpio) SDK_BSP_NOEXCEPT;
/* Writes "out" (out not 0) or "in" to the line's direction. */
SDK_BSP_API int bsp_gpio_direction(int gpio, int out) SDK_BSP_NOEXCEPT;
/* Writes "1" (value not 0) or "0" to the line's value. */
SDK_BSP_API int SDK_bsp_gpio_write(int gpio, int value) SDK_BSP_NOEXCEPT;
/* The line's value: the number at the start of the file's first 3 characters (0 or 1), or -1
 * when the file cannot be opened or holds nothing. */
SDK_BSP_API int bsp_gpio_read(int gpio) SDK_BSP_NOEXCEPT;
/* Writes the edge word: 1 "rising", 2 "falling", 3 "both", any other value "none". */
SDK_BSP_API int bsp_gpio_edge(int gpio, int edge) SDK_BSP_NOEXCEPT;

/* Lights (value not 0) or darkens (0) the LED of the name; LEDs without a line and names that
 * are no LED change nothing. Always returns -1. Logs "SetLEDValue resourceName:%s,Value=%d" at
 * level 8. */
SDK_BSP_API int SetLEDValue(const char *resourceName, int value) SDK_BSP_NOEXCEPT;
/* The same by resource ID (501..522), without the log line. Always returns -1. */
SDK_BSP_API int SetLEDValue_FromResourceName(int id, int value) SDK_BSP_NOEXCEPT;
/* The LED lamp test InitializeSDK runs: prints "SDK:open all led\r\n", lights run, alarm, net and
 * "Local/Led/1".."Local/Led/14", waits 1 second, prints "SDK:close all led\r\n", puts the same
 * LEDs out and prints "sdk_start_log end\r\n". Power, update and extension LEDs are not touched. */
SDK_BSP_API void sdk_start_log(void) SDK_BSP_NOEXCEPT;
/* Switches the 12 V output channel (0 is the one in use) off, waits the given seconds and
 * switches it on again before returning; blocks the caller for that long. Logs
 * "SET AO 12V RESTART CH=%d" at level 5. Returns 0. */
SDK_BSP_API int SET_AO_12V_RESTART(int channel, unsigned int seconds) SDK_BSP_NOEXCEPT;
/* No effect (the box has no beeper the library drives). */
SDK_BSP_API void BSP_BEEP_START(void) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * Software watchdog
 *
 * Disabled after InitializeSDK (interval 600 s). Once enabled, the host must call one of the three
 * calls below at least every interval: a watchdog that has not been fed for more than interval +
 * 60 seconds (whole seconds of the wall clock, checked once a second) logs
 * "soft dog start,ready reboot=<interval>" at level 5 and, a second later, runs the shell command
 * "reboot"; both repeat about every 2 seconds while the deadline stays passed. Setting the clock
 * back postpones the deadline; setting it forward may pass it. Intervals are given in milliseconds
 * and kept in whole seconds (rounded down). Each host call logs "fun=<name>,line =<n>" at level 8.
 * ============================================================================================== */

/* Arms the watchdog when enable's low 8 bits are exactly 1 (1 or 257; 0 or 2 disarm), sets the
 * interval and feeds it. Returns 0. */
SDK_BSP_API int SoftDogEnable(int enable, unsigned int interval_ms) SDK_BSP_NOEXCEPT;
/* Sets the interval and feeds the watchdog. Returns 0. */
SDK_BSP_API int SoftDogFeedInterval(unsigned int interval_ms) SDK_BSP_NOEXCEPT;
/* Feeds the watchdog: the countdown starts again now. Returns 0. */
SDK_BSP_API int SoftDogFeed(void) SDK_BSP_NOEXCEPT;
/* The same three without the log line. */
SDK_BSP_API int bsp_SoftDogEnable(int enable, unsigned int interval_ms) SDK_BSP_NOEXCEPT;
SDK_BSP_API int bsp_SoftDogFeedInterval(unsigned int interval_ms) SDK_BSP_NOEXCEPT;
SDK_BSP_API int bsp_SoftDogFeed(void) SDK_BSP_NOEXCEPT;
/* Disarms the watchdog, sets the interval to 600 seconds and feeds it (InitializeSDK does this). */
SDK_BSP_API void bsp_SoftDog_Init(void) SDK_BSP_NOEXCEPT;
/* Once per process: starts the watchdog thread (App_SoftDogFeed, handle in thread_dog). Later calls
 * do nothing. */
SDK_BSP_API void soft_dog_run(void) SDK_BSP_NOEXCEPT;
/* The watchdog thread: every second the extension boards' link keep-alive tick (RunComDog), then
 * the watchdog check. arg is not used. Never returns. */
SDK_BSP_API void *App_SoftDogFeed(void *arg) SDK_BSP_NOEXCEPT;
/* The watchdog thread, once soft_dog_run has started it. */
SDK_BSP_API extern pthread_t thread_dog;

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

/* The GPS/BeiDou receiver's NMEA 0183 sentences (port /dev/ttymxc7, 9600 baud) are gathered by the
 * library's own read loop and parsed in batches of more than 1024 bytes. Kept from them:
 *   GGA (any talker)  position and height; ignored while its latitude field is empty
 *   RMC (any talker)  position; ignored while its status is "V"
 *   GSA (GP, BD)      satellites used: the identifier fields that are not empty
 *   GSV (GP, BD)      satellites in view, and each satellite's identifier and CN0 (dB-Hz)
 * A sentence counts only when it ends with "*" and two upper-case hexadecimal digits equal to the
 * exclusive-or of the characters between "$" and "*", followed by "\r\n". Positions are decimal
 * degrees and never negative: the hemisphere letters are not used. Values stay until a later
 * sentence of the same kind replaces them; a lost fix does not clear the position.
 *
 * Traces go to standard output only (never to the log), in UTF-8:
 *   "______GPS 数据梳理---<count>\r\n"         every batch parsed
 *   "GPS_CMD_NUM :GPS_CMD_NUM=<n>,/<total>\r\n"  every GSV, then for each satellite block
 *   "Read_a_info 标识：<identifier>\r\n"
 *   "______清空GPS数据流_____"                   a batch discarded after a positioning-mode change */

/* Satellite slots per system: slot 4 x (GSV message number - 1) + the block's position in the
 * message. Messages 1-9 of four satellites fill slots 0-35; a slot holding 0 is empty. */
#define SDK_BSP_GPS_SLOTS 81
/* The satellite-signal text (SET_GPS_BD_dB), terminator included. */
#define SDK_BSP_GPS_DB_TEXT_SIZE 1024

/* The fix record: 1336 bytes, zero at load and after every positioning-mode change. The library
 * updates it while the host runs; read it through the GPS API calls, which copy it consistently
 * (a direct read may see a sentence's values half stored). */
typedef struct {
    double lon;     /* longitude, decimal degrees (GGA or RMC) */
    double lat;     /* latitude, decimal degrees (GGA or RMC) */
    float high;     /* GGA altitude plus geoid separation, metres */
    float gpslook;  /* GPS satellites in view (last GPGSV) */
    float gpsnum;   /* GPS satellites used (last GPGSA) */
    float bdlook;   /* BeiDou satellites in view (last BDGSV) */
    float bdnum;    /* BeiDou satellites used (last BDGSA) */
    int32_t gps_id[SDK_BSP_GPS_SLOTS];  /* GPS satellite numbers, by slot; refilled every GSV cycle */
    int32_t gps_cn0[SDK_BSP_GPS_SLOTS]; /* their CN0 in dB-Hz, same slots */
    int32_t bd_id[SDK_BSP_GPS_SLOTS];   /* BeiDou satellite numbers, by slot */
    int32_t bd_cn0[SDK_BSP_GPS_SLOTS];  /* their CN0 in dB-Hz */
    int32_t clear;  /* 1: the next batch is discarded and the record zeroed (set on a mode change) */
} STR_GPS_INFO_T;

SDK_BSP_API extern STR_GPS_INFO_T STR_GPS_INFO;

/* Parses one batch of received bytes: exactly count bytes from text are read (no terminator is
 * needed; zero bytes inside, as CASIC receivers send in their binary messages, do not stop the
 * parse). Returns -1, doing nothing, when count is 1024 or less (keep gathering) or text is null;
 * otherwise 0: the batch has been worked through (keep nothing of it: a sentence cut off at its
 * end is dropped). The first batch after a positioning-mode change is discarded instead: the
 * record is zeroed, the files /tmp/gps_* are deleted, and the call returns 0. */
SDK_BSP_API int BSP_GPS_READ(const char *text, int count) SDK_BSP_NOEXCEPT;

/* Rebuilds the satellite-signal text from the record and returns it (a library buffer of
 * SDK_BSP_GPS_DB_TEXT_SIZE bytes, zero-terminated; the parser rebuilds it after every complete
 * GSV cycle, so copy it at once or use GET_GPS_dB_INFO). Sets the flag of Read_GPS_dB_Flag. The
 * text lists the filled slots in slot order, each value followed by ";":
 *   "GPS,卫星标识=<ids>,CN0=<cn0s>\r\n,BD,卫星标识=<ids>,CN0=<cn0s>"
 * e.g. "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;". */
SDK_BSP_API char *SET_GPS_BD_dB(void) SDK_BSP_NOEXCEPT;

/* 1 when the satellite-signal text has been built since the last call (the parser builds it when
 * a GSV cycle completes; SET_GPS_BD_dB too), and clears that flag; else 0. */
SDK_BSP_API int Read_GPS_dB_Flag(void) SDK_BSP_NOEXCEPT;

/* ==============================================================================================
 * GPS positioning mode and API
 *
 * The positioning mode chooses the satellite systems the receiver uses. It is kept in the UCI
 * keys vqm.sys.pcas and vqm.sys.pcas_sdk (/etc/config/vqm, decimal; absent or empty reads 0;
 * 99999 means positioning off). Both setters write both keys; a non-zero pcas_sdk overrides pcas.
 * The receiver follows pcas_sdk and is sent a CASIC sentence on /dev/ttymxc7:
 *   pcas_sdk 1       "$PCAS04,1*18\r\n"   GPS only
 *   pcas_sdk 2       "$PCAS04,2*1B\r\n"   BeiDou only
 *   pcas_sdk 99999   nothing            the receiver keeps its mode
 *   any other        "$PCAS04,3*1A\r\n"   GPS and BeiDou (also 0, a mode stored only in pcas)
 * one second later followed by "$PCAS00*01\r\n" (the receiver keeps its configuration across
 * power cycles). Every application of the mode then waits 2 s and resets the fix record: it is
 * zeroed, the files /tmp/gps_* are deleted, and the next batch the parser receives is discarded.
 * A mode change therefore blocks its caller for about 3 s (2 s when nothing is sent); concurrent
 * mode calls are served one after the other. Keys are written with the box's uci tool
 * ("uci set vqm.sys.pcas=<mode>", "uci set vqm.sys.pcas_sdk=<mode>", "uci commit").
 * Log lines (level 5): "sdk gps_pcas=<pcas_sdk>", "gps_pcas=<pcas_sdk>,PositionMode=<mode>",
 * "gps_pcas sdkk=<pcas>", "gps_pcas sdk=99999", "gps_pcas web=<pcas>", "gps_pcas set :<command>",
 * "pcas set <mode>", "web pcas set <mode>", and one "<result>=GPS_COM_WRITE(<fd>,<text>,<len>)\r\n"
 * per write to the receiver.
 * ============================================================================================== */

/* Applies the stored mode: reads both keys, sets the effective mode (pcas, or pcas_sdk when that
 * is not 0), commands the receiver, waits, and resets the fix record. InitializeSDK calls it as
 * its last step. Returns the status of the command deleting /tmp/gps_*, as system() reports it
 * (0 when files were deleted, non-zero when there were none; -1 when it could not be run). */
SDK_BSP_API int GPS_MODE_UPDATE(void) SDK_BSP_NOEXCEPT;

/* The SDK-side setter. A non-zero mode becomes the effective mode; when pcas differs from it,
 * both keys are set to it and committed (when pcas already holds it nothing is written, even if
 * pcas_sdk differs); then the stored mode is applied (GPS_MODE_UPDATE) and its result returned.
 * Mode 0 switches positioning off: both keys become 99999 (unless pcas_sdk already is), the
 * effective mode 99999, and 0 is returned at once; the receiver and the fix record are left alone. */
SDK_BSP_API int SDK_GPS_SET_PCAS(uint32_t mode) SDK_BSP_NOEXCEPT;

/* The web-side setter: when pcas differs from mode, both keys are set to it and committed (0
 * included: it commands GPS and BeiDou while Read_PositionMode reports 0); then the stored mode is
 * applied. Returns GPS_MODE_UPDATE's result. */
SDK_BSP_API int GPS_SET_PCAS(uint32_t mode) SDK_BSP_NOEXCEPT;

/* The effective mode: 0 before the first GPS_MODE_UPDATE and while positioning is off (99999),
 * else the mode number (1 GPS, 2 BeiDou, others GPS and BeiDou). */
SDK_BSP_API int Read_PositionMode(void) SDK_BSP_NOEXCEPT;

/* The first-start default: returns 1 when the marker file /etc/bd_gps_default exists. Otherwise
 * creates it ("echo 1 >/etc/bd_gps_default"), stores 2 in vqm.sys.pcas only
 * ("uci set vqm.sys.pcas=2;uci commit") and returns that command's status. Not called by the
 * library itself. */
SDK_BSP_API int GPS_DEFAULT_SET(void) SDK_BSP_NOEXCEPT;

/* Writes len bytes to the receiver's port (index 6) through SDK_BSP_ComWrite; *written receives
 * the count written (0 on failure; written may be null). Returns BSP_COM_OK, BSP_COM_ERR_DEVICE
 * when the port is not open, BSP_COM_ERR_IO when the write fails, BSP_COM_ERR_PARAM for a
 * negative len or null data, after printing the port layer's error line for
 * FUNCTION:GPS_COM_WRITE. Logs the trace line above. */
SDK_BSP_API uint32_t GPS_COM_WRITE(const char *data, int len, uint32_t *written) SDK_BSP_NOEXCEPT;

/* The buffer GET_BSP_GPS_INFO and GET_BSP_GPS_CSV_INFO write into, terminator included: no value
 * the receiver's sentences give makes a longer line (with a real fix it is about 90 characters). */
#define SDK_BSP_GPS_INFO_SIZE 384

/* Writes the fix as one line into buffer:
 *   "lon=%.8lf,lat=%.8lf,high=%f,gpsnum=%.0f,gpslook=%.0f,bdnum=%.0f,bdlook=%.0f\r\n"
 * e.g. "lon=113.94647980,lat=22.60205841,high=56.700001,gpsnum=8,gpslook=12,bdnum=6,bdlook=10\r\n".
 * While Read_PositionMode is 0 all seven values are written as 0. Returns the number of characters
 * written (zero-terminated; 0 for a null buffer). Not logged. */
SDK_BSP_API int GET_BSP_GPS_INFO(char *buffer) SDK_BSP_NOEXCEPT;

/* The same seven values as "%.8lf,%.8lf,%f,%.0f,%.0f,%.0f,%.0f", without a line end, whatever the
 * mode. Returns the number of characters written (0 for a null buffer). Not logged. */
SDK_BSP_API int GET_BSP_GPS_CSV_INFO(char *buffer) SDK_BSP_NOEXCEPT;

/* Copies the satellite-signal text (see SET_GPS_BD_dB), rebuilt from the current record, into
 * buffer, which must hold SDK_BSP_GPS_DB_TEXT_SIZE (1024) bytes. Returns 0, or -1 without writing
 * while the parser has not yet completed a GSV cycle (or for a null buffer); once it has, every
 * call returns 0. */
SDK_BSP_API int GET_GPS_dB_INFO(char *buffer) SDK_BSP_NOEXCEPT;

/* Sets the mode from the SDK side (SDK_GPS_SET_PCAS); mode 0 switches positioning off, stored as
 * 99999 in both keys. Logs "pcas set <mode>" (and "pcas set 99999" for 0). Always returns 0. */
SDK_BSP_API int SetPositionMode(uint32_t mode) SDK_BSP_NOEXCEPT;

/* Sets the mode from the web side (GPS_SET_PCAS); mode 0 is stored as 0 and commands GPS and
 * BeiDou. Logs "web pcas set <mode>". Always returns 0. */
SDK_BSP_API int BSP_SET_GPS_PCAS(int mode) SDK_BSP_NOEXCEPT;

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

/**
 * @file sdk_bsp.h
 * The C API of libsdk_bsp, the board-support library of the field supervision unit (FSU): the
 * host's API first, then the low-level exports. The front page says how a host uses it.
 */

/**
 * @mainpage The host's guide
 *
 * The monitoring application (the host) loads /lib/libsdk_bsp.so and calls the functions of
 * sdk_bsp.h, plain C for C99 and C++ alike. All state lives in the library, in fixed tables, for
 * the life of the process. The header's first part, @ref host, is what a host calls; @ref lowlevel
 * follows, exported as the box's library always has, needed by no host.
 *
 * @section calls The calls, in order
 *
 *  1. InitializeSDK(), once (about 6 s): the LED lamp test, the seven ports, the receive threads,
 *     the watchdog, the positioning mode. It sets the log modes (SDK_LOG_PAR_INIT); set
 *     STR_LOG_PAR's mode words afterwards to log less.
 *  2. The environment send loop, which the library does not start:
 *     pthread_create(&thread, NULL, ENV_COM_SEND_THREAD, NULL). Without it output requests stay
 *     pending.
 *  3. FSU_Lte_THREAD_START(), for the cellular link. It returns once the supervisor has cleared the
 *     modem record, so the DialDial that follows it is served.
 *  4. From then on, from any thread: ReadFSUResource() for the resources present; SetUartParam(),
 *     WriteUart(), ReadUart(); GetAIValue(), GetDIValue(), SetDOValue(); SetLEDValue();
 *     SoftDogEnable() and SoftDogFeed(); DialDial(), DialIsOnline(), DialGetStaticInfo(),
 *     DialGetDynamicInfo(); GET_BSP_GPS_INFO(), SetPositionMode(); ReadSDKVersion(), SetRtc(),
 *     UpdateSDK().
 *  5. Nothing is ever stopped: leave with fflush(NULL); _exit(status); never by returning from main
 *     or calling exit(), so that no exit handler or static destructor runs under the library's
 *     threads.
 *
 * @section duties The host's duties
 *
 *  - Keep the outputs' present states in STR_BSP_ENV_INFO.do_state. An output command carries all
 *    four outputs: the one requested and, for the others, what do_state holds. The library never
 *    writes do_state; a host that does not keep it switches the other outputs off with every
 *    SetDOValue().
 *  - Give every call the buffer its documentation sizes. Where a call writes a fixed size whatever
 *    length it is given, its C prototype says so with [static N] (SDK_BSP_SIZED): GCC warns a host
 *    that passes less.
 *  - Feed the watchdog, once armed, at least every interval; otherwise the box reboots.
 *  - Copy a text out of a buffer of the library's (the configuration reader's results, the
 *    satellite-signal text of SET_GPS_BD_dB) before the next call of the same function.
 *  - Keep its own reports off standard output, which carries the library's prints (device-level
 *    failures, start-up traces). The commands the library runs write nothing on standard error.
 *
 * @section traps What catches a host out
 *
 *  - Before InitializeSDK nothing is logged (every mode word is 0), the ports are closed (WriteUart
 *    answers 0 and sends nothing, the port layer printing its error line; ReadUart answers 0), the
 *    stored resource counts read 0, no thread watches the watchdog, and GET_BSP_GPS_INFO reports
 *    zeros. Requests (SetDOValue, the Dial API) are kept and wait for the threads that serve them.
 *  - InitializeSDK reports no failure. A port start-up could not open answers
 *    SDK_BSP_ComRead(index, NULL, 0, NULL) with BSP_COM_ERR_DEVICE (an open one reads nothing and
 *    answers BSP_COM_OK); sdk_read_com_num() is 4 when neither extension board announced itself
 *    during its 2 s wait.
 *  - The last step of InitializeSDK applies the positioning mode, which zeroes the fix: the
 *    position reads zero for the first seconds after it (and after every mode change).
 *  - ENV_COM_SEND_THREAD's argument is only printed, as a port index: pass NULL, or the address of
 *    an int that outlives the thread.
 *  - DialIsOnline() and DialGetDynamicInfo() report the address and the signal the supervisor last
 *    read: while the module is gone they keep saying what they said last.
 *  - With the LTE supervisor running, the modem's traces (level 3, to the file after
 *    SDK_LOG_PAR_INIT) come to about 130 KB a minute: the log reaches 2 MiB and is archived about
 *    every quarter of an hour. STR_LOG_PAR.net = 0 turns them off, the Dial API's lines with them.
 *
 * @section conventions Conventions
 *
 *  - Most calls return 0 for success and -1 for failure; calls documented as "always 0" have no
 *    failure value: on bad input (null pointer, out-of-range number) they do nothing harmful and
 *    still return 0.
 *  - Results go into buffers the caller supplies, of the sizes stated here. Where a call does not
 *    look at a length (or uses it only to clear), it writes its whole text: the buffer must have
 *    the size stated, whatever length is passed.
 *  - Calls are written to the log /tmp/sdklog.log with a level number: 2 errors, 3 the cellular
 *    modem, 4 the Uart API and board-link traces, 5 other API calls and system events, 8 per-call
 *    value traces. Each call's "Log" note gives its line's exact text (a printf format) and level.
 *  - Threads: every call may be made from any host thread. Each call's "Threads" note says what,
 *    if anything, the caller must still serialise: a result buffer of the library shared by all
 *    callers (copy the text out before the next call), or a call that blocks its caller. Locks the
 *    library takes are its own and held only briefly, never across a call into the host. Thread
 *    routines (the *_THREAD functions, App_SoftDogFeed, lte_main) run in a thread of their own and
 *    never return.
 *
 * @section pc Development on a PC
 *
 * When the environment variable SDK_BSP_ROOT names a directory (a simulated box, fsu-sim), every
 * absolute path the library uses is taken under it and the box's tools are looked up in
 * $SDK_BSP_ROOT/bin first. When SDK_BSP_CMDLOG names a file, every shell command the library runs
 * is appended to it, one line each, before it runs. The library's own descriptors are
 * close-on-exec: the commands it runs inherit none of them.
 */
#ifndef SDK_BSP_H
#define SDK_BSP_H

/** @defgroup version_macros Version macros
 *  The version of the library this header belongs to, filled in by the build from its project
 *  version; the SDK version the library reports is "VQ-" followed by SDK_BSP_VERSION_STRING.
 *  @{ */

/** The major number of the version. */
#define SDK_BSP_VERSION_MAJOR @PROJECT_VERSION_MAJOR@

/** The minor number of the version. */
#define SDK_BSP_VERSION_MINOR @PROJECT_VERSION_MINOR@

/** The patch number of the version. */
#define SDK_BSP_VERSION_PATCH @PROJECT_VERSION_PATCH@

/** The version as text, "major.minor.patch". */
#define SDK_BSP_VERSION_STRING "@PROJECT_VERSION@"

/** The version as one number, 0xMMmmpp: 0x010100 for 1.1.0. */
#define SDK_BSP_VERSION_HEX \
    ((SDK_BSP_VERSION_MAJOR << 16) | (SDK_BSP_VERSION_MINOR << 8) | SDK_BSP_VERSION_PATCH)

/** True when this header is of version major.minor.patch or later, as in
 *  `#if SDK_BSP_VERSION_CHECK(1, 1, 0)`. */
#define SDK_BSP_VERSION_CHECK(major, minor, patch) \
    (SDK_BSP_VERSION_HEX >= (((major) << 16) | ((minor) << 8) | (patch)))

/** @} */

#include <pthread.h>
#include <stdint.h>

/** Marks a name the library exports (default visibility under GCC and Clang). */
#if defined(__GNUC__)
#define SDK_BSP_API __attribute__((visibility("default")))
#else
#define SDK_BSP_API
#endif

/** Marks a function that never throws: noexcept in C++, nothing in C. */
#ifdef __cplusplus
#define SDK_BSP_NOEXCEPT noexcept
#else
#define SDK_BSP_NOEXCEPT
#endif

/** The size of an array parameter a call writes whatever length it is given: "static n" in C99,
 *  so that the prototype reads [static n] and a C compiler warns a host that passes a smaller
 *  array (GCC: -Wstringop-overflow, on by default). C99 also takes it to say that the pointer is
 *  not null, and GCC warns of a null argument (-Wnonnull): the library's answer to a null buffer
 *  stays as each call documents it. Nothing in C++ and before C99, which have no such
 *  declaration. */
#if !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#define SDK_BSP_SIZED(n) static n
#else
#define SDK_BSP_SIZED(n)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ==============================================================================================
 * The host's API: the calls a monitoring application makes, and the records it reads
 * ============================================================================================== */
/** @defgroup host The host's API
 *  What a monitoring application calls, in the order the front page gives, and the records it
 *  reads or keeps. Everything else the library exports follows in the low-level group.
 *  @{ */

/** @defgroup startup Start-up
 *  Bringing the box up once per process. The library's threads, ports and tables live until the
 *  process ends; nothing is ever stopped or freed.
 *  @{ */

/**
 * Brings the whole box up, once per process.
 *
 * In this order: log modes on (SDK_LOG_PAR_INIT), the log line "InitializeSDK", board presence
 * flags cleared, the LED lamp test (1 s), the seven ports opened at 115200 8N1, 9600 8N1 stored and
 * applied for the sixteen Uarts (nine settings frames to the boards), the seven receive threads
 * started, the watchdog record reset, a 2 s pause for the extension boards to announce themselves,
 * the resources counted, the watchdog thread started, the stored GPS positioning mode applied.
 * About 6 s in all. The environment send loop (ENV_COM_SEND_THREAD) and the LTE supervisor are not
 * started: the host starts them itself. The library's threads run until the process ends: a host
 * that ends should leave with _exit() rather than return from main, so that no exit handler or
 * static destructor runs under them.
 *
 * Start-up reports no failure: a port that cannot be opened prints "BSP_ComCreate(%d, %s) Failed !"
 * and the port layer's error line on standard output, and the call still returns 0. A host tells
 * afterwards: SDK_BSP_ComRead(index, NULL, 0, NULL) returns BSP_COM_ERR_DEVICE for a port that is
 * not open (reading nothing from one that is), and sdk_read_com_num() is 4 when neither extension
 * board announced itself during the 2 s pause.
 *
 * The last step applies the stored positioning mode, which resets the fix record: for the first
 * seconds after the call GET_BSP_GPS_INFO reports zeros until the receiver's next fix is parsed.
 *
 * @return 0; -1, doing nothing, on every later call.
 * @par Log
 *   "InitializeSDK" at level 5, then the lines of the steps (BSP_Resource_CHECK's count, the
 *   positioning mode's lines).
 * @par Threads
 *   Any thread; blocks it for about 6 s. Of two concurrent calls one starts the box, the other
 *   returns -1 at once.
 */
SDK_BSP_API int InitializeSDK(void) SDK_BSP_NOEXCEPT;

/**
 * Logs that the host is done with the library, and nothing else.
 *
 * Threads and ports live until the process ends, and the library cannot be started again.
 *
 * @return 0, always.
 * @par Log
 *   "UninitializeSDK" at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int UninitializeSDK(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup log SDK log
 *  One record per call: "\r\n[YYYY-MM-DD hh:mm:ss TAG Line=NUMBER]:MESSAGE", NUMBER in 10 digits.
 *  The message gets no line end of its own; the next record's leading "\r\n" closes it.
 *
 *  | level | tag           | mode word |
 *  |-------|---------------|-----------|
 *  | 1     | "sdk_SQL  "   | sql       |
 *  | 2     | "sdk_ERROR"   | error     |
 *  | 3     | "sdk_NET  "   | net       |
 *  | 4     | "sdk_SO   "   | so        |
 *  | 5     | "sdk_SYS  "   | sys       |
 *  | 6     | "sdk_PIC  "   | pic       |
 *  | 8     | "sdk_DEBUG"   | debug     |
 *  | other | "sdk_OTHER"   | other     |
 *
 *  Mode words: 0 off, 1 standard output, 2 the file /tmp/sdklog.log, 3 both; other values output
 *  nothing. The record number advances on every call, whatever the mode. When the file has grown
 *  past 2 MiB (2097152 bytes) the next record first archives it to /tmp/sdklog.zip (replacing the
 *  previous archive; commands "rm", "zip", "rm") and starts a new file. A record holds at most
 *  102398 characters; a longer message is cut. Records never interleave: one lock serialises the
 *  record number, the archiving and the append. Before InitializeSDK (or SDK_LOG_PAR_INIT) every
 *  mode word is 0: nothing is logged.
 *  @{ */

/** The eight mode words, in this order; all 0 (log off) until SDK_LOG_PAR_INIT. */
typedef struct {
    int32_t sql;   /**< level 1 */
    int32_t error; /**< level 2: errors */
    int32_t net;   /**< level 3: the cellular modem */
    int32_t so;    /**< level 4: the Uart API and board-link traces */
    int32_t pic;   /**< level 6 */
    int32_t sys;   /**< level 5: other API calls and system events */
    int32_t other; /**< levels 0, 7 and above 8 */
    int32_t debug; /**< level 8: per-call value traces */
} STR_LOG_PAR_T;

/** The log's mode words; the host may set them directly, each as one word. */
SDK_BSP_API extern STR_LOG_PAR_T STR_LOG_PAR;

/**
 * Writes one record at the given level.
 *
 * @param level   the level number (1 to 8; any other is "other").
 * @param format  a printf format for the message; null outputs nothing.
 * @param ...     the format's arguments.
 * @return 1 when the record was output (mode 1, 2 or 3; also when the file write failed), else 0.
 * @par Threads
 *   Any thread; records never interleave (the log's lock, held for the number, the archiving and
 *   the append; the print on standard output comes after it).
 */
SDK_BSP_API int SDK_LOG_WRITE(int level, const char *format, ...) SDK_BSP_NOEXCEPT
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/**
 * Sets the modes InitializeSDK uses: level 3 (net) to the file only, every other level to both.
 *
 * Level 3 carries the modem's traces: with the LTE supervisor running against a module they are
 * about 130 KB a minute (several lines per 100 ms poll of the AT port), so the log reaches 2 MiB
 * and is archived about every quarter of an hour. STR_LOG_PAR.net = 0 turns them off, the Dial
 * API's lines with them.
 *
 * @par Threads
 *   Any thread; each mode word is one word.
 */
SDK_BSP_API void SDK_LOG_PAR_INIT(void) SDK_BSP_NOEXCEPT;

/**
 * Turns the whole log off (all eight mode words 0). The library never calls this itself.
 *
 * @par Threads
 *   Any thread; each mode word is one word.
 */
SDK_BSP_API void SDK_LOG_PAR_INIT_NOPRINTF(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup resources Resource names and counts
 *  Every local resource has a name and a numeric resource ID:
 *
 *  | names                                    | IDs        |
 *  |------------------------------------------|------------|
 *  | "Local/Uart/1" .. "Local/Uart/16"        | 1 .. 16    |
 *  | "Local/AI/1" .. "Local/AI/32"            | 101 .. 132 |
 *  | "Local/DI/1" .. "Local/DI/32"            | 201 .. 232 |
 *  | "Local/DO/1" .. "Local/DO/4"             | 301 .. 304 |
 *  | "Local/Bat/1" .. "Local/Bat/4"           | 401 .. 404 |
 *  | "Local/Led/run", "Local/Led/power", "Local/Led/alarm", "Local/Led/net" | 501 .. 504 |
 *  | "Local/Led/update", "Local/Led/extend1" .. "Local/Led/extend3" | 505 .. 508 |
 *  | "Local/Led/1" .. "Local/Led/14"          | 509 .. 522 |
 *
 *  Names match exactly (case, no leading zeros, no blanks); 523 means no such resource. The
 *  presence flags and the counts are single words, shared with the receive threads without a lock.
 *  @{ */

/** The resource ID of a name that is not in the table. */
#define SDK_BSP_RESOURCE_NOT_FOUND 523

/** The longest resource list ReadFSUResource writes, terminator included: its buffer's size. */
#define SDK_BSP_RESOURCE_LIST_SIZE 868

/**
 * The board presence flags (16 bytes). A flag counts only when it holds exactly 1.
 *
 * Cleared at start-up; the library sets M_COM and EXT_COM when extension board 1 or 2 announces
 * itself and never clears them again; M_ENV and EXT_ENV are set only by the host.
 */
typedef struct {
    int32_t M_COM;   /**< extension board 1 (serial ports 5..8) has answered */
    int32_t EXT_COM; /**< extension board 2 (serial ports 9..12) has answered */
    int32_t M_ENV;   /**< environment inputs and outputs: 8 AI, 16 DI, 4 DO */
    int32_t EXT_ENV; /**< eight further AI */
} BSP_BOARD_HARDWARE_RESOURCES_T;

/** The presence flags, as the receive threads and the setters leave them. */
SDK_BSP_API extern BSP_BOARD_HARDWARE_RESOURCES_T BSP_BOARD_HARDWARE_RESOURCES;

/** The counts of the last BSP_Resource_CHECK (24 bytes); all 0 before the first one. */
typedef struct {
    int32_t COM;      /**< serial ports: 4, 8 or 12 */
    int32_t RESERVED; /**< always 0 */
    int32_t AI;       /**< analog inputs: 0, 8 or 16 */
    int32_t DI;       /**< digital inputs: 0 or 16 */
    int32_t DO;       /**< outputs: 0 or 4 */
    int32_t AO;       /**< analog outputs: always 0 */
} STR_SYSTEM_RESOURCES_NUM_T;

/** The resource counts, as last computed. */
SDK_BSP_API extern STR_SYSTEM_RESOURCES_NUM_T STR_SYSTEM_RESOURCES_NUM;

/**
 * The stored count of serial ports, as last computed (no recount).
 *
 * @return 4, 8 or 12; 0 before the first count.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int sdk_read_com_num(void) SDK_BSP_NOEXCEPT;

/**
 * The stored count of analog inputs, as last computed (no recount).
 *
 * @return 0, 8 or 16.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int sdk_read_ai_num(void) SDK_BSP_NOEXCEPT;

/**
 * The stored count of digital inputs, as last computed (no recount).
 *
 * @return 0 or 16.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int sdk_read_di_num(void) SDK_BSP_NOEXCEPT;

/**
 * The stored count of outputs, as last computed (no recount).
 *
 * @return 0 or 4.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int sdk_read_do_num(void) SDK_BSP_NOEXCEPT;

/**
 * Recounts the resources, then writes them as a JSON array of strings without blanks.
 *
 * The serial ports, AI, DI and DO present, then "Local/Led/1".."Local/Led/14", e.g.
 * ["Local/Uart/1","Local/Uart/2","Local/Uart/3","Local/Uart/4","Local/Led/1",...,"Local/Led/14"].
 * The list is written whole, whatever the length: the length only limits how many bytes are
 * cleared first.
 *
 * @param buffer  receives the list; must hold SDK_BSP_RESOURCE_LIST_SIZE (868) bytes (declared
 *                [static 868] in C, see SDK_BSP_SIZED). Null writes nothing.
 * @param length  the bytes cleared before the list is written (none when 0 or negative).
 * @return 0, always.
 * @par Log
 *   "COM=%d;AI=%d;DI=%d,AO=%d,DO=%d" (the recount), then "ReadFSUResource(%s)" with the list, both
 *   at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadFSUResource(char buffer[SDK_BSP_SIZED(SDK_BSP_RESOURCE_LIST_SIZE)], int length) SDK_BSP_NOEXCEPT;

/**
 * Writes the alias of a resource, which is its name.
 *
 * The name is copied whole, terminator included; the length is not looked at.
 *
 * @param name    the resource name; null does nothing.
 * @param alias   receives the name; must hold strlen(name) + 1 bytes (18 for every name of the
 *                table). Null writes nothing.
 * @param length  not looked at.
 * @return 0, always.
 * @par Log
 *   "ReadResourceAlias(%s)" at level 5, with the name.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadResourceAlias(const char *name, char *alias, int length) SDK_BSP_NOEXCEPT;

/**
 * The state of a resource: always 0.
 *
 * @param resource  not looked at.
 * @param state     receives 0; null writes nothing.
 * @return 0, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetResourceState(const char *resource, int *state) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup maintenance Device information and maintenance
 *  Identify the library and the box, install an update of the library, set the clock, manage the
 *  FTP accounts. (The small file and command helpers these calls use are low-level exports.)
 *
 *  The work is done by shell commands (system or popen through /bin/sh); their exit status is not
 *  examined unless a call says so. Caller text that goes into a command (the clock text, the FTP
 *  user, password and path, the update package's path) must be text the shell takes literally:
 *  no quote (' or "), ;, |, &, $, `, <, >, (, ), \, line end or other control character anywhere;
 *  and in the arguments that stand unquoted (all but the clock text) also no blank, *, ? or [, no
 *  leading -, # or ~, and not empty. Other text is refused: the call runs no command, returns -1
 *  and logs at level 2 "%s: %s refused, %s" (the call, the argument, why), why being "absent" (a null
 *  text), "the shell would not take it literally", "too long for its command"; for example
 *  "SetFtp: password refused, the shell would not take it literally".
 *
 *  With SDK_BSP_ROOT set, every absolute path these calls open or put into a command is taken
 *  under it, the caller's paths included. The commands' standard error goes to /dev/null.
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
 * @param buffer  receives the text; at least SDK_BSP_VERSION_TEXT_SIZE (9) bytes (declared
 *                [static 9] in C, see SDK_BSP_SIZED). Null: nothing is written and nothing logged.
 * @param length  the number of bytes to clear first.
 * @return 0, always.
 * @par Log
 *   "ReadSDKVersion(VQ-1.1.0)" at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadSDKVersion(char buffer[SDK_BSP_SIZED(SDK_BSP_VERSION_TEXT_SIZE)], int length) SDK_BSP_NOEXCEPT;

/**
 * Writes the box's hardware information as UTF-8 JSON.
 *
 * The text is {"产品型号":"VQM-KP-2000A1","生产日期":"2022-07-01 08:30:00"} (product model and
 * production date, 69 bytes), followed by its terminator: 70 bytes, whatever length says.
 *
 * @param buffer  receives the text; at least SDK_BSP_HARDWARE_INFO_SIZE (70) bytes (declared
 *                [static 70] in C, see SDK_BSP_SIZED). Null: nothing is written and nothing logged.
 * @param length  not examined.
 * @return 0, always.
 * @par Log
 *   "ReadHardwareInformation(%s)" at level 5, with the text.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int ReadHardwareInformation(char buffer[SDK_BSP_SIZED(SDK_BSP_HARDWARE_INFO_SIZE)], int length) SDK_BSP_NOEXCEPT;

/**
 * Installs an update of the library from a package file.
 *
 * Only a path that contains "/CAIRN_KIT_SDK.tar.gz" names a package; any other path (or null)
 * returns 0 at once and runs no command. Otherwise, in order: "mkdir /tmp/sdk", "mv %s
 * /tmp/sdk/CAIRN_KIT_SDK.tar.gz" with the path (the package file is moved, not copied), "gunzip
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
 *   "UpdateSDK(%s)" at level 5 with the path, first ("(null)" for a null path); a refusal at level 2
 *   ("UpdateSDK: path refused, ...").
 * @par Threads
 *   Any thread; one update at a time (they share /tmp/sdk).
 */
SDK_BSP_API int UpdateSDK(const char *path) SDK_BSP_NOEXCEPT;

/**
 * Sets the system clock and stores it in the hardware clock.
 *
 * The text is cut to its first 29 characters, then runs as "date -s '%s'", followed by
 * "hwclock -w". The software watchdog is fed after each of the two commands, so its countdown
 * restarts on the new clock.
 *
 * @param time  a time as the box's date -s takes it, e.g. "2024-07-01 08:30:00"; text the shell
 *              takes literally inside single quotes (blanks allowed).
 * @return 0 once the commands have run (their results are not examined); -1 for a null text
 *         (nothing logged) or a refused one.
 * @par Log
 *   "SetRtc %s;set_cmd=%s" at level 5 with the text and the date command, after the commands; a refusal at
 *   level 2 ("SetRtc: time refused, ...").
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetRtc(const char *time) SDK_BSP_NOEXCEPT;

/**
 * Adds an FTP account through the box's account script.
 *
 * Runs "mkdir %s" with the path when it does not exist, then "user.sh add %s %s %s" with the
 * user, password and path.
 *
 * @param user      the account name; literal as an unquoted word.
 * @param password  its password; literal as an unquoted word.
 * @param path      its home directory; literal as an unquoted word.
 * @return 0 once the commands have run (their results are not examined); -1 for a null path, or
 *         when an argument is refused.
 * @par Log
 *   "fun=%s,usr =%s,password=%s,path=%s" at level 8 with "SetFtp", user, password and path, first, the password in
 *   plain text ("(null)" for a null argument); a refusal at level 2 ("SetFtp: user refused, ...";
 *   "SetFtp: arguments refused, too long for its command" when the command would pass 511
 *   characters).
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetFtp(const char *user, const char *password, const char *path) SDK_BSP_NOEXCEPT;

/**
 * Deletes an FTP account through the box's account script: "user.sh del %s" with the user.
 *
 * @param user  the account name; literal as an unquoted word.
 * @return -1, always (also when the account was deleted).
 * @par Log
 *   "fun=%s,usr =%s" at level 8 with "DelFtp" and the user, first; a refusal at level 2 ("DelFtp: user refused, ...").
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

/** @} */

/** @defgroup values Input and output values
 *  Served from the environment record STR_BSP_ENV_INFO, by resource name:
 *
 *  | names                          | served from                                            |
 *  |--------------------------------|--------------------------------------------------------|
 *  | "Local/AI/1".."Local/AI/16"    | ai_kind0 (value kind 0) or ai_other (any other kind), element n-1 for AI n |
 *  | "Local/DI/1".."Local/DI/16"    | di                                                     |
 *  | "Local/DI/17".."Local/DI/24"   | the present states of the outputs, do_state (DI 16+n is output n) |
 *  | "Local/DO/1".."Local/DO/4"     | output requests                                        |
 *
 *  The other AI, DI and battery names exist but serve no value. Nothing here touches a device:
 *  reads return what the record holds (all 0 unless something stores values there), and an output
 *  request waits in the record until the environment send loop (ENV_COM_SEND_THREAD), when the
 *  host runs it, sends it within a second.
 *
 *  The host keeps the outputs' present states: an output command carries all four outputs, the
 *  requested one and, for the others, what do_state holds, which the library never writes (it
 *  only clears the record when its GPS read loop starts). A host that does not keep do_state, from
 *  the equipment's replies or at least from what it requested, switches the other outputs off
 *  with every request. Each host call logs one line at level 8 after its work,
 *  whatever its result. Every value is one word or byte of the record, read and written without a
 *  lock.
 *  @{ */

/** The text GetAIValue_String writes, terminator included: room for "%f" of any float. */
#define SDK_BSP_AI_TEXT_SIZE 48

/**
 * The environment record: input values and output requests (268 bytes).
 *
 * Cleared when the GPS read loop starts; the library writes no input value into it afterwards.
 * Its words and bytes are read and written one at a time, without a lock.
 */
typedef struct {
    int32_t reserved0[16];  /**< not used */
    float ai_kind0[16];     /**< AI n at element n-1, read for value kind 0 */
    float ai_other[16];     /**< AI n at element n-1, read for any other kind */
    uint8_t di[16];         /**< DI n at element n-1, 0 or 1 */
    uint8_t do_state[8];    /**< present state of DO n, 1 = on (read as DI 17..24); kept by the
                                 host: an output command sends it for every output not requested */
    uint8_t reserved1[36];  /**< not used */
    uint8_t do_request[8];  /**< 1 = a change of DO n is pending */
    uint8_t do_value[8];    /**< requested value of DO n, 1 = on, anything else off */
} STR_BSP_ENV_INFO_T;

/** The environment record. */
SDK_BSP_API extern STR_BSP_ENV_INFO_T STR_BSP_ENV_INFO;

/**
 * Reads an analog input by name.
 *
 * @param resourceName  "Local/AI/1".."Local/AI/16".
 * @param type          the value kind: 0 reads ai_kind0, any other ai_other.
 * @param value         receives the value.
 * @return 0; -1 with *value untouched for a name that is not AI 1..16 or a null value.
 * @par Log
 *   "Local/AI/ Resources error" at level 8 for a name that is not AI 1..16, then
 *   "GetAIValue resourceName:%s type=%d,Value=%f;result=%d" at level 8 with *value as it is after
 *   the call.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetAIValue(const char *resourceName, int type, float *value) SDK_BSP_NOEXCEPT;

/**
 * Reads an analog input by name as text, written with "%f" (six decimals, e.g. "12.500000").
 *
 * @param resourceName  "Local/AI/1".."Local/AI/16".
 * @param type          the value kind, as for GetAIValue.
 * @param text          receives the text ("0.000000" after a failed read); must hold
 *                      SDK_BSP_AI_TEXT_SIZE (48) bytes. Null writes nothing.
 * @return 0; -1 for a name that is not AI 1..16 or a null text.
 * @par Log
 *   "Local/AI/ Resources error" at level 8 for a name that is not AI 1..16, then
 *   "GetAIValue resourceName:%s type=%d,Value=%s;result=%d" at level 8.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetAIValue_String(const char *resourceName, int type, char *text) SDK_BSP_NOEXCEPT;

/**
 * Reads a digital input (or an output's present state, DI 17..24) by name.
 *
 * @param resourceName  "Local/DI/1".."Local/DI/24".
 * @param value         receives the value, 0..255 (in practice 0 or 1).
 * @return 0; -1 with *value untouched for a name that is not DI 1..24 or a null value.
 * @par Log
 *   "GetDIValue resourceName:%s,Value=%d" at level 8 with *value as it is after the call.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetDIValue(const char *resourceName, int *value) SDK_BSP_NOEXCEPT;

/**
 * Battery values are not served.
 *
 * @param resourceName  any name.
 * @param value         left untouched.
 * @return -1, always.
 * @par Log
 *   "GetBatValue resourceName:%s,Value=%f" at level 8 with *value as the caller left it.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetBatValue(const char *resourceName, float *value) SDK_BSP_NOEXCEPT;

/**
 * Requests an output on or off; the environment send loop carries the request.
 *
 * A later request for the same output before it is sent replaces it. The frame that carries it
 * switches the three other outputs to their present states as STR_BSP_ENV_INFO.do_state holds
 * them: the host keeps those (the library never writes them), or every request switches the
 * other outputs off.
 *
 * @param resourceName  "Local/DO/1".."Local/DO/4".
 * @param value         1 on, any other value off; only its low 8 bits are kept, so 257 means on.
 * @return 0; -1 for a name that is not DO 1..4 (nothing recorded).
 * @par Log
 *   "SetDOValue resourceName:%s,Value=%d" at level 8 with the value as given.
 * @par Threads
 *   Any thread; the request is handed over through its flag (see the environment link).
 */
SDK_BSP_API int SetDOValue(const char *resourceName, int value) SDK_BSP_NOEXCEPT;

/**
 * The environment send loop: once a second, the output command or the poll.
 *
 * Sets the environment channel to 9600 8N1, prints "fun-ENV_COM_SEND_THREAD=%d\r\n" with the port,
 * then once a second sends the output-command frame (when a request is pending) or the poll
 * "~FFFF03540000FD5C\r" to the environment equipment. The library never starts it: without it,
 * output requests stay pending.
 *
 * @param arg  null, or the address of an int that outlives the thread: only printed, as the port
 *             index of its two start-up lines (null prints -1). Start it with
 *             pthread_create(&thread, NULL, ENV_COM_SEND_THREAD, NULL).
 * @return never returns.
 * @par Threads
 *   Runs in a thread of its own, which the host starts with pthread_create; one at a time.
 */
SDK_BSP_API void *ENV_COM_SEND_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup leds LEDs and the switched 12 V output
 *  The LEDs by name, and the switched 12 V output (channel 0 powers the cellular module on the
 *  box). The GPIO primitives and the LED table beneath them are low-level exports.
 *  @{ */

/**
 * Lights or darkens an LED by name; LEDs without a line and names that are no LED change nothing.
 *
 * @param resourceName  "Local/Led/run" and the other LED names.
 * @param value         not 0 lights, 0 darkens.
 * @return -1, always.
 * @par Log
 *   "SetLEDValue resourceName:%s,Value=%d" at level 8.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetLEDValue(const char *resourceName, int value) SDK_BSP_NOEXCEPT;

/**
 * Switches a 12 V output channel off, waits, and switches it on again before returning.
 *
 * @param channel  the channel; 0 is the one in use.
 * @param seconds  how long it stays off.
 * @return 0.
 * @par Log
 *   "SET AO 12V RESTART CH=%d" at level 5, first.
 * @par Threads
 *   Any thread; blocks it for the seconds given.
 */
SDK_BSP_API int SET_AO_12V_RESTART(int channel, unsigned int seconds) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup watchdog Software watchdog
 *  Disabled after InitializeSDK (interval 600 s); before it, no thread watches the record. Once enabled, the host must call one of the three
 *  feeding calls at least every interval: a watchdog that has not been fed for more than interval +
 *  60 seconds (whole seconds of the wall clock, checked once a second) logs
 *  "soft dog start,ready reboot=%d" at level 5 with the interval and, a second later, runs the
 *  shell command "reboot"; both repeat about every 2 seconds while the deadline stays passed.
 *  Setting the clock back postpones the deadline; setting it forward may pass it. Intervals are
 *  given in milliseconds and kept in whole seconds (rounded down). The record is three words,
 *  written by host threads and read by the watchdog thread without a lock, in an order that never
 *  pairs a new interval or enable with an old feed time.
 *  @{ */

/**
 * Arms or disarms the watchdog, sets its interval and feeds it.
 *
 * @param enable       arms when its low 8 bits are exactly 1 (1 or 257); 0 or 2 disarm.
 * @param interval_ms  the interval in milliseconds.
 * @return 0, always.
 * @par Log
 *   "fun=%s,line =%d" at level 8 with "SoftDogEnable" and 409.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SoftDogEnable(int enable, unsigned int interval_ms) SDK_BSP_NOEXCEPT;

/**
 * Sets the interval and feeds the watchdog.
 *
 * @param interval_ms  the interval in milliseconds.
 * @return 0, always.
 * @par Log
 *   "fun=%s,line =%d" at level 8 with "SoftDogFeedInterval" and 424.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SoftDogFeedInterval(unsigned int interval_ms) SDK_BSP_NOEXCEPT;

/**
 * Feeds the watchdog: the countdown starts again now.
 *
 * @return 0, always.
 * @par Log
 *   "fun=%s,line =%d" at level 8 with "SoftDogFeed" and 439.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SoftDogFeed(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup uart Uart API
 *  "Local/Uart/1".."Local/Uart/16" by name:
 *
 *  | Uart   | carried by                        | reads from          |
 *  |--------|-----------------------------------|---------------------|
 *  | 1..4   | pass-through ports 0..3           | receive buffers 0..3 |
 *  | 5..8   | board 1, channels 0..3            | buffers 4..7        |
 *  | 9..12  | board 2, channels 0, 2, 1, 3      | buffers 8..11       |
 *  | 13     | settings stored only; writes refused | always empty     |
 *  | 14     | the environment channel (board 1, channel 4) | buffer 13 |
 *  | 15     | settings stored only; writes refused | always empty     |
 *  | 16     | settings stored only; reads and writes refused | -      |
 *
 *  Line settings: baud rate, data bits, stop bits (1 or 2), parity (0 none, 1 odd, 2 even); the
 *  default, applied at start-up, is 9600 8N1. The stored settings are single words, read and
 *  written without a lock. Before InitializeSDK the ports are closed: writes still answer 0 but
 *  send nothing (the port layer prints its error line on standard output), reads answer 0.
 *  @{ */

/**
 * Stores and applies line settings for a Uart.
 *
 * @param name       "Local/Uart/1".."Local/Uart/16".
 * @param iBaudRate  the rate.
 * @param iDataSize  data bits.
 * @param iStopBit   stop bits, 1 or 2.
 * @param iParity    0 none, 1 odd, 2 even.
 * @return 0 for a Uart name (whether or not the port or board accepted the settings), -1
 *         otherwise.
 * @par Log
 *   "SetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d" at level 4.
 * @par Threads
 *   Any thread; a reader racing the store may see a mix of old and new fields.
 */
SDK_BSP_API int SetUartParam(const char *name, int iBaudRate, int iDataSize, int iStopBit, int iParity) SDK_BSP_NOEXCEPT;

/**
 * The stored settings of a Uart (what was last set).
 *
 * @param name       "Local/Uart/1".."Local/Uart/16".
 * @param iBaudRate  receives the rate; may be null.
 * @param iDataSize  receives the data bits; may be null.
 * @param iStopBit   receives the stop bits; may be null.
 * @param iParity    receives the parity; may be null.
 * @return 0; -1 for a name that is not a Uart, the places untouched.
 * @par Log
 *   "GetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d" at level 4.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int GetUartParam(const char *name, int *iBaudRate, int *iDataSize, int *iStopBit,
                             int *iParity) SDK_BSP_NOEXCEPT;

/**
 * Takes received bytes of a Uart, waiting once when none are there.
 *
 * Takes up to length bytes (at most 4096) from the Uart's receive buffer. If none are there, waits
 * once (timeout - 1 ms, at least 1 ms) and tries once more.
 *
 * @param name     "Local/Uart/1".."Local/Uart/15".
 * @param buffer   receives the bytes; must hold length bytes.
 * @param length   the most bytes to take.
 * @param timeout  milliseconds, as above.
 * @return the count (0 when none came); -1 at once for a null buffer, and after the wait for
 *         Uart 16 or a name that is not a Uart.
 * @par Threads
 *   Any thread; each take holds the buffer's lock; a caller may block for the wait.
 */
SDK_BSP_API int ReadUart(const char *name, unsigned char *buffer, int length, unsigned int timeout) SDK_BSP_NOEXCEPT;

/**
 * Hands bytes to the port, or as board-link frames to the board channel, that carries a Uart.
 *
 * Prints the bytes as "%02x " each on standard output first.
 *
 * @param name    "Local/Uart/1".."Local/Uart/12" or "Local/Uart/14".
 * @param data    the bytes; may be null when length is 0.
 * @param length  the number of bytes.
 * @return 0 for Uarts 1..12 and 14 (whatever the device reported); -1 for any other name, a
 *         negative length or null data (nothing printed or sent).
 * @par Log
 *   "WriteUart resourceName:%s TXLENTH:%d,result=%d" at level 4.
 * @par Threads
 *   Any thread; writes on one port are serialised by its write lock.
 */
SDK_BSP_API int WriteUart(const char *name, const unsigned char *data, int length) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup cellular Cellular link: the LTE supervisor and the Dial API
 *  The host's view of the cellular link: requests left in NTU for the LTE supervisor, which
 *  carries them out on its next pass, and reports made from what it keeps there. None of these
 *  calls talks to the module, and none can fail: a request is taken even when no module is present,
 *  and without the supervisor running (FSU_Lte_THREAD_START) nothing happens and the reports stay
 *  empty. Each call writes one log line.
 *
 *  One library thread supervises the cellular module, once the host starts it with
 *  FSU_Lte_THREAD_START. Once a second it wakes up; on every second pass (0, 2, 4, ...) it runs
 *  detection (readusb) and, with a module present, reads the addresses of "ppp0" and "ppp1" into
 *  NTU.lteip and NTU.lteip1 and runs a query cycle (readatdata), unless module 13 is fitted and
 *  "ppp0" has an address. Then, on every pass, it serves the requests the Dial API (or the host)
 *  leaves in NTU, in this order:
 *    - pppdstart: a query cycle, then "AT^SYSINFO"; in service: "ATH", a 5 s pause,
 *      "killall lte.sh" and "nohup  lte.sh &" (the dial-up script), NTU.dialstarted = 1; not in
 *      service: "LTE SYS NO CSQ!" and nothing starts (the request is dropped).
 *    - pppdend: "ATH" and "killall pppd".
 *    - softreboot: "AT+CFUN=1,1".
 *    - hardreboot: GPIO 12 (the module's power switch, exported and an output by the board set-up)
 *      low for 5 s ("echo 0 > /sys/class/gpio/gpio12/value", then "echo 1 > ..."); a soft restart
 *      requested meanwhile is dropped.
 *  A request flag is cleared when it is served. The link is up when "ppp0" has an address, read on
 *  the next even pass. A module that disappears leaves NTU.mode_id, NTU.atdev, NTU.lteip and NTU.csq as
 *  they were; no query runs until one is detected again, so DialIsOnline and DialGetDynamicInfo
 *  go on reporting the last address and signal while the module is gone.
 *
 *  Log (level 3, all of them): each pass "LTE_TEHED sleepcount=<pass>,Line=1754", on detection
 *  "LTE_TEHED sleepcount1=<pass>,Line=1756;NTU.lteip=<lteip>,NTU.mode_id=<mode_id>",
 *  "LTE_TEHED NTU.pppdstart=<flag>" and "LTE_TEHED NTU.pppdend=<flag>"; for a dial "start up
 *  killall lte.sh-start lte.sh", four lines of 37 '@' and the first line again; "killall pppd";
 *  "无线模块软重启!!!!!!!!" for a soft restart; and the AT channel's lines.
 *  @{ */

/**
 * Starts the LTE supervisor thread (lte_main) once, and returns once the thread has cleared NTU.
 *
 * The supervisor's start clears the record's request flags (data_init): a DialDial made before
 * that clearing would be lost. So the call returns only after it, and a request made after the
 * call returns is always served. A failed thread creation returns at once.
 *
 * @return pthread_create's result for the first call (0 started); -1 for every later call, which
 *   starts nothing and also returns only once the first call's thread has cleared NTU.
 * @par Threads
 *   Any thread; blocks it until the new thread has cleared NTU (a moment).
 */
SDK_BSP_API int FSU_Lte_THREAD_START(void) SDK_BSP_NOEXCEPT;

/** The buffer DialGetStaticInfo writes into: the longest text (145 characters) and its terminator. */
#define SDK_BSP_DIAL_STATIC_INFO_SIZE 146
/** The buffer DialGetDynamicInfo writes into: the longest text (136 characters) and its terminator. */
#define SDK_BSP_DIAL_DYNAMIC_INFO_SIZE 137

/**
 * Initialises the dial-up; there is nothing to do.
 *
 * @return 0.
 * @par Log
 *   "无线拨号初始化DialInit" at level 3.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DialInit(void) SDK_BSP_NOEXCEPT;

/**
 * Asks the supervisor to hang up: sets NTU.pppdend, so that its next pass sends "ATH" and runs
 * "killall pppd".
 *
 * @return 0.
 * @par Log
 *   "结束无线模块拨号DialTerminate" at level 3.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DialTerminate(void) SDK_BSP_NOEXCEPT;

/**
 * Asks the supervisor to dial: sets NTU.pppdstart.
 *
 * On its next pass the supervisor runs a query cycle and checks registration; in service it hangs
 * up and starts the dial-up script "lte.sh" afresh. The link is up once DialIsOnline says so.
 *
 * @param first   a text of the host's, only logged (null is logged as "(null)").
 * @param second  another text of the host's, only logged.
 * @return 0.
 * @par Log
 *   "执行拨号动作(<first>,<second>)" at level 3.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DialDial(const char *first, const char *second) SDK_BSP_NOEXCEPT;

/**
 * Tells whether the link is up: NTU.lteip, the address of "ppp0" as the supervisor last read it,
 * holds 6 characters or more.
 *
 * The supervisor reads the address only while it detects a module: after the module has gone
 * (unplugged, powered off) the call keeps answering as it did last, until a module is detected
 * again and its address read.
 *
 * @return 0 online; -1 not.
 * @par Log
 *   "通过ppp0网卡获取相应的ip拨号成功" when online, "通过ppp0网卡获取相应的ip拨号失败" when not, at
 *   level 3.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DialIsOnline(void) SDK_BSP_NOEXCEPT;

/**
 * Writes the module's static identity as JSON.
 *
 * The text: "{\"TelcomCarrier\":\"<carrier>\",\"MFRS\":\"VQ\", \"Model\":\"<netstate>\",
 * \"Version\":\"0.1\", \"IMEI\":\"<imei>\", \"IMSI\":\"<imsi>\"}" (one space after every comma but
 * the first). The carrier comes from the IMSI's first five digits: 46000, 46002, 46004, 46007
 * "CMCC"; 46001, 46006 "CUCC"; 46003, 46005, 46011 "CTCC"; otherwise the five digits themselves
 * (empty without an IMSI). "Model" carries NTU.netstate ("LTE", "SIM_OK", ...).
 *
 * @param out   receives the text, at most 145 characters and the terminator: it must hold
 *              SDK_BSP_DIAL_STATIC_INFO_SIZE (146) bytes (declared [static 146] in C, see
 *              SDK_BSP_SIZED); null: only logged.
 * @param size  not used.
 * @return 0.
 * @par Log
 *   "获取无线模块静态信息DialGetStaticInfo(<text>)" at level 3.
 * @par Threads
 *   Any thread; the texts are copied under the record's text lock.
 */
SDK_BSP_API int DialGetStaticInfo(char out[SDK_BSP_SIZED(SDK_BSP_DIAL_STATIC_INFO_SIZE)], int size) SDK_BSP_NOEXCEPT;

/**
 * Writes the link's dynamic state as JSON, and sets NTU.cardstat to 1 when an IMSI is known, else 0.
 *
 * The text: "{\"CardStat\":\"<cardstat>\", \"SignalStrength\":\"<csq>\", \"IP\":\"<lteip>\",
 * \"Longitude\":\"<lon>\", \"Latitude\":\"<lat>\"}", the coordinates those of STR_GPS_INFO with six
 * decimals ("%f"); every value is a JSON string. Signal and address are those the supervisor last
 * read: while the module is gone they stay as they were.
 *
 * @param out   receives the text, at most 136 characters and the terminator (coordinates outside
 *   their ranges would make it longer: it is cut there): it must hold SDK_BSP_DIAL_DYNAMIC_INFO_SIZE
 *   (137) bytes (declared [static 137] in C, see SDK_BSP_SIZED); null: only logged.
 * @param size  not used.
 * @return 0.
 * @par Log
 *   "获取无线模块动态信息DialGetDynamicInfo(<text>)" at level 3.
 * @par Threads
 *   Any thread; the texts are copied under the record's text lock, the coordinates under the fix
 *   record's.
 */
SDK_BSP_API int DialGetDynamicInfo(char out[SDK_BSP_SIZED(SDK_BSP_DIAL_DYNAMIC_INFO_SIZE)], int size) SDK_BSP_NOEXCEPT;

/**
 * Asks the supervisor to restart the module by command: sets NTU.softreboot ("AT+CFUN=1,1" on its
 * next pass; dropped when a power cycle is running).
 *
 * @return 0.
 * @par Log
 *   "无线模块软重启DialSoftReboot" at level 5.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DialSoftReboot(void) SDK_BSP_NOEXCEPT;

/**
 * Cycles the 12 V output channel 0 (off for 3 s, SET_AO_12V_RESTART), then asks the supervisor to
 * power-cycle the module: sets NTU.hardreboot (GPIO 12 low for 5 s on its next pass).
 *
 * @return 0.
 * @par Log
 *   "无线模块断电硬重启DialHardReboot" at level 5, first; then SET_AO_12V_RESTART's line.
 * @par Threads
 *   Any thread; blocks it for 3 s.
 */
SDK_BSP_API int DialHardReboot(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup gps_api GPS position and positioning mode
 *  The positioning mode chooses the satellite systems the receiver uses. It is kept in the UCI
 *  keys vqm.sys.pcas and vqm.sys.pcas_sdk (/etc/config/vqm, decimal; absent or empty reads 0;
 *  99999 means positioning off). Both setters write both keys; a non-zero pcas_sdk overrides pcas.
 *  The receiver follows pcas_sdk and is sent a CASIC sentence on /dev/ttymxc7:
 *
 *  | pcas_sdk  | sentence             | receiver                                        |
 *  |-----------|----------------------|-------------------------------------------------|
 *  | 1         | "$PCAS04,1*18\r\n"   | GPS only                                        |
 *  | 2         | "$PCAS04,2*1B\r\n"   | BeiDou only                                     |
 *  | 99999     | nothing              | keeps its mode                                  |
 *  | any other | "$PCAS04,3*1A\r\n"   | GPS and BeiDou (also 0, a mode stored only in pcas) |
 *
 *  One second later "$PCAS00*01\r\n" follows (the receiver keeps its configuration across power
 *  cycles). Every application of the mode then waits 2 s and resets the fix record: it is zeroed,
 *  the files /tmp/gps_* are deleted, and the next batch the parser receives is discarded. A mode
 *  change therefore blocks its caller for about 3 s (2 s when nothing is sent); concurrent mode
 *  calls are served one after the other (the mode lock). Keys are written with the box's uci tool
 *  ("uci set vqm.sys.pcas=%d", "uci set vqm.sys.pcas_sdk=%d", "uci commit") and read through the
 *  configuration reader, whose copies are dropped first. The last step of InitializeSDK applies the
 *  stored mode: the position reads zero for the first seconds after it, too.
 *
 *  The position comes from the receiver's sentences, which the library parses itself (the GPS
 *  sentence parser among the low-level exports says what is kept from which sentence).
 *  @{ */

/** The buffer GET_BSP_GPS_INFO and GET_BSP_GPS_CSV_INFO write into, terminator included: no value
 *  the receiver's sentences give makes a longer line (with a real fix it is about 90 characters). */
#define SDK_BSP_GPS_INFO_SIZE 384

/** The satellite-signal text (SET_GPS_BD_dB), terminator included. */
#define SDK_BSP_GPS_DB_TEXT_SIZE 1024

/**
 * Writes the fix as one line.
 *
 * "lon=%.8lf,lat=%.8lf,high=%f,gpsnum=%.0f,gpslook=%.0f,bdnum=%.0f,bdlook=%.0f\r\n", e.g.
 * "lon=113.94647980,lat=22.60205841,high=56.700001,gpsnum=8,gpslook=12,bdnum=6,bdlook=10\r\n".
 * While Read_PositionMode is 0 all seven values are written as 0, and after every application of
 * the mode (the end of InitializeSDK, SetPositionMode, BSP_SET_GPS_PCAS) they read 0 until the
 * receiver's next fix is parsed.
 *
 * @param buffer  receives the line, zero-terminated; must hold SDK_BSP_GPS_INFO_SIZE bytes.
 * @return the number of characters written; 0 for a null buffer.
 * @par Threads
 *   Any thread; the record is copied under its lock.
 */
SDK_BSP_API int GET_BSP_GPS_INFO(char *buffer) SDK_BSP_NOEXCEPT;

/**
 * Writes the same seven values as "%.8lf,%.8lf,%f,%.0f,%.0f,%.0f,%.0f", without a line end,
 * whatever the mode.
 *
 * @param buffer  receives the text, zero-terminated; must hold SDK_BSP_GPS_INFO_SIZE bytes.
 * @return the number of characters written; 0 for a null buffer.
 * @par Threads
 *   Any thread; the record is copied under its lock.
 */
SDK_BSP_API int GET_BSP_GPS_CSV_INFO(char *buffer) SDK_BSP_NOEXCEPT;

/**
 * Copies the satellite-signal text (see SET_GPS_BD_dB), rebuilt from the current record.
 *
 * @param buffer  receives the text; must hold SDK_BSP_GPS_DB_TEXT_SIZE (1024) bytes (declared
 *                [static 1024] in C, see SDK_BSP_SIZED).
 * @return 0; -1 without writing while the parser has not yet completed a GSV cycle (or for a null
 *         buffer). Once it has, every call returns 0.
 * @par Threads
 *   Any thread; the text is built and copied under the record's lock.
 */
SDK_BSP_API int GET_GPS_dB_INFO(char buffer[SDK_BSP_SIZED(SDK_BSP_GPS_DB_TEXT_SIZE)]) SDK_BSP_NOEXCEPT;

/**
 * Sets the mode from the SDK side (SDK_GPS_SET_PCAS); mode 0 switches positioning off, stored as
 * 99999 in both keys.
 *
 * @param mode  the mode; 0 for off.
 * @return 0, always.
 * @par Log
 *   "pcas set %d" at level 5 with the mode (and "pcas set %d" with 99999 for 0), then
 *   SDK_GPS_SET_PCAS's lines.
 * @par Threads
 *   Any thread; blocks it for 2-3 s (not for mode 0); mode calls are served one after the other.
 */
SDK_BSP_API int SetPositionMode(uint32_t mode) SDK_BSP_NOEXCEPT;

/**
 * Sets the mode from the web side (GPS_SET_PCAS); mode 0 is stored as 0 and commands GPS and
 * BeiDou.
 *
 * @param mode  the mode.
 * @return 0, always.
 * @par Log
 *   "web pcas set %d" at level 5 with the mode, then GPS_SET_PCAS's lines.
 * @par Threads
 *   Any thread; blocks it for 2-3 s; mode calls are served one after the other.
 */
SDK_BSP_API int BSP_SET_GPS_PCAS(int mode) SDK_BSP_NOEXCEPT;

/** @} */

/** @} */

/* ==============================================================================================
 * Low-level exports: the steps, threads, codecs and tables beneath the host's API
 * ============================================================================================== */
/** @defgroup lowlevel Low-level exports
 *  The steps, thread routines, codecs, tokenizer and tables the host's API is built on, exported
 *  as the box's library always has: tools and hosts written against them keep working. A host
 *  needs none of them; some share state with the library's threads (the AT channel, the
 *  receive threads) and say so.
 *  @{ */

/** @defgroup sdk_steps Start-up, log and resource steps
 *  The steps InitializeSDK, the log and the resource calls are made of.
 *  @{ */

/**
 * Clears the board presence flags (BOARD_HARDWARE_RESOURCES_INIT), once per process.
 *
 * @par Threads
 *   Any thread; a repeated or concurrent call does nothing.
 */
SDK_BSP_API void SYSTEM_INIT(void) SDK_BSP_NOEXCEPT;

/**
 * Clears the four board presence flags of BSP_BOARD_HARDWARE_RESOURCES.
 *
 * @par Threads
 *   Any thread; each flag is one word.
 */
SDK_BSP_API void BOARD_HARDWARE_RESOURCES_INIT(void) SDK_BSP_NOEXCEPT;

/**
 * Appends text to the file at path, creating it (mode 0700) when missing.
 *
 * The system error is printed on standard error with the prefix "open" or "lseek".
 *
 * @param path  the file; not null.
 * @param text  the zero-terminated text; not null.
 * @return 1 written; -1 the file cannot be opened (or path or text is null); -2 its end cannot be
 *         sought.
 * @par Threads
 *   Any thread; two calls on one file at once may overwrite each other's text (the end is sought,
 *   then written). The log's own appends are serialised by its lock.
 */
SDK_BSP_API int SDK_LOG_SAVE_FILE(const char *path, char *text) SDK_BSP_NOEXCEPT;

/**
 * Looks a resource name up in the table.
 *
 * @param name  the resource name, e.g. "Local/DI/3".
 * @return the resource ID, or 523 when the name is null or unknown.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int READ_resourceName(const char *name) SDK_BSP_NOEXCEPT;

/**
 * Stores a value in the M_COM presence flag (extension board 1).
 *
 * @param value  any value; only 1 counts as present.
 * @par Threads
 *   Any thread; the flag is one word.
 */
SDK_BSP_API void PAR_SET_M_COM_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;

/**
 * Stores a value in the EXT_COM presence flag (extension board 2).
 *
 * @param value  any value; only 1 counts as present.
 * @par Threads
 *   Any thread; the flag is one word.
 */
SDK_BSP_API void PAR_SET_EXT_COM_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;

/**
 * Stores a value in the M_ENV presence flag (environment inputs and outputs).
 *
 * @param value  any value; only 1 counts as present.
 * @par Threads
 *   Any thread; the flag is one word.
 */
SDK_BSP_API void PAR_SET_M_ENV_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;

/**
 * Stores a value in the EXT_ENV presence flag (eight further AI).
 *
 * @param value  any value; only 1 counts as present.
 * @par Threads
 *   Any thread; the flag is one word.
 */
SDK_BSP_API void PAR_SET_EXT_ENV_EXIST_STATUS(int value) SDK_BSP_NOEXCEPT;

/**
 * Recomputes the counts from the presence flags.
 *
 * COM = 4, +4 per extension board present; AI, DI and DO = 8, 16 and 4 with M_ENV; AI +8 with
 * EXT_ENV. The same text as the log line is printed on standard output, without a line end.
 *
 * @par Log
 *   "COM=%d;AI=%d;DI=%d,AO=%d,DO=%d" at level 5.
 * @par Threads
 *   Any thread; each flag is read once, each count stored as one word.
 */
SDK_BSP_API void BSP_Resource_CHECK(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup file_helpers File and command helpers
 *  The small file and command helpers of the maintenance calls. With SDK_BSP_ROOT set, absolute
 *  paths go under it; ReadsyscmdReturn runs its command as given (its standard error on /dev/null).
 *  @{ */

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

/** @defgroup values_by_id Input and output values by resource ID
 *  The value calls beneath the host's, by resource ID (see the resource names), without their log
 *  lines; and entry points kept for hosts that call them.
 *  @{ */

/**
 * GetAIValue by resource ID, without the API's log line.
 *
 * @param id     101..116.
 * @param type   the value kind, as for GetAIValue.
 * @param value  receives the value.
 * @return 0; -1 for another ID or a null value.
 * @par Log
 *   "Local/AI/ Resources error" at level 8 for an ID outside 101..116.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int Read_AI_VALUE_FromResourceName(int id, int type, float *value) SDK_BSP_NOEXCEPT;

/**
 * GetDIValue by resource ID, without the log line.
 *
 * @param id     201..224.
 * @param value  receives the value.
 * @return 0; -1 for another ID or a null value.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int Read_DI_VALUE_FromResourceName(int id, int *value) SDK_BSP_NOEXCEPT;

/**
 * GetBatValue by resource ID: battery values are not served.
 *
 * @param id     not looked at.
 * @param value  not written.
 * @return -1, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int Read_Bat_VALUE_FromResourceName(int id, float *value) SDK_BSP_NOEXCEPT;

/**
 * SetDOValue by resource ID, without the log line: stores the value's low 8 bits as output
 * (id - 300)'s requested value, then marks the request pending.
 *
 * @param id     301..304.
 * @param value  1 on, any other value off.
 * @return 0; -1 for another ID.
 * @par Threads
 *   Any thread; the value is stored before the flag is set.
 */
SDK_BSP_API int SetDOValue_FromResourceName(int id, int value) SDK_BSP_NOEXCEPT;

/**
 * Kept for hosts that call it; no effect.
 *
 * @return 1, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int OFFSET_VALUE_INIT(void) SDK_BSP_NOEXCEPT;

/**
 * Kept for hosts that call it; no effect.
 *
 * @return 1, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int AI_Calibration_Check(void) SDK_BSP_NOEXCEPT;

/**
 * Kept for hosts that call it; no effect.
 *
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void BSP_AIDI_INIT(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup gpio GPIO lines and the LED table
 *  GPIO lines through sysfs: /sys/class/gpio/export and unexport, /sys/class/gpio/gpioN/direction,
 *  value and edge. Each primitive opens the file, writes or reads, closes it, and returns 0, or -1
 *  after printing on standard output one of its two messages: the first when the file cannot be
 *  opened, the second when the write or read fails.
 *
 *  | primitive          | cannot open                                   | write or read fails           |
 *  |--------------------|-----------------------------------------------|-------------------------------|
 *  | bsp_gpio_export    | "Failed to open export for writing!\n"        | "Failed to export gpio!"      |
 *  | bsp_gpio_unexport  | "Failed to open unexport for writing!\n"      | "Failed to unexport gpio!"    |
 *  | bsp_gpio_direction | "Failed to open gpio direction for writing!\n" | "Failed to set direction!\n" |
 *  | SDK_bsp_gpio_write | "Failed to open gpio value for writing!\n"    | "Failed to write value!\n"    |
 *  | bsp_gpio_read      | "Failed to open gpio value for reading!\n"    | "Failed to read value!\n"     |
 *  | bsp_gpio_edge      | "Failed to open gpio edge for writing!\n"     | "Failed to set edge!\n"       |
 *
 *  LEDs hang on active-low lines (lit while the line is 0): "Local/Led/run" GPIO 1,
 *  "Local/Led/alarm" GPIO 18, "Local/Led/net" GPIO 0, "Local/Led/1" GPIO 4; the other LEDs have no
 *  line. The first LED operation of the process exports these four lines, sets them to output and
 *  dark, printing "LED_GPIO_INIT=%d\r\n" and "LED_GPIO_INIT=%d ok\r\n" for each; they are never
 *  unexported. Callers racing that first operation wait until the lines are ready.
 *  @{ */

/** The GPIO number of an LED without a line. */
#define SDK_BSP_NO_GPIO 65535

/** The rows of LED_GPIO_LIST: the LEDs 501..522. */
#define SDK_BSP_LED_ROWS 22

/** One LED (8 bytes). */
typedef struct {
    int32_t resource; /**< its resource ID */
    int32_t gpio;     /**< its GPIO number, SDK_BSP_NO_GPIO for none */
} LED_GPIO_T;

/** The LEDs 501..522 in ID order (read-only). */
SDK_BSP_API extern const LED_GPIO_T LED_GPIO_LIST[SDK_BSP_LED_ROWS];

/**
 * Exports a GPIO line: writes the number (decimal, no line end) to /sys/class/gpio/export.
 *
 * @param gpio  the line number.
 * @return 0; -1 after the line on standard output (see the table).
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_gpio_export(int gpio) SDK_BSP_NOEXCEPT;

/**
 * Unexports a GPIO line: writes the number (decimal, no line end) to /sys/class/gpio/unexport.
 *
 * @param gpio  the line number.
 * @return 0; -1 after the line on standard output.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_gpio_unexport(int gpio) SDK_BSP_NOEXCEPT;

/**
 * Sets a line's direction: writes "out" or "in".
 *
 * @param gpio  the line number.
 * @param out   not 0 for "out", 0 for "in".
 * @return 0; -1 after the line on standard output.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_gpio_direction(int gpio, int out) SDK_BSP_NOEXCEPT;

/**
 * Sets a line's value: writes "1" or "0".
 *
 * @param gpio   the line number.
 * @param value  not 0 for "1", 0 for "0".
 * @return 0; -1 after the line on standard output.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SDK_bsp_gpio_write(int gpio, int value) SDK_BSP_NOEXCEPT;

/**
 * Reads a line's value.
 *
 * @param gpio  the line number.
 * @return the number at the start of the file's first 3 characters (0 or 1); -1 after the line on
 *         standard output when the file cannot be opened or holds nothing.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_gpio_read(int gpio) SDK_BSP_NOEXCEPT;

/**
 * Sets a line's edge: writes "rising", "falling", "both" or "none".
 *
 * @param gpio  the line number.
 * @param edge  1 "rising", 2 "falling", 3 "both", any other value "none".
 * @return 0; -1 after the line on standard output.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_gpio_edge(int gpio, int edge) SDK_BSP_NOEXCEPT;

/**
 * SetLEDValue by resource ID, without the log line.
 *
 * @param id     501..522.
 * @param value  not 0 lights, 0 darkens.
 * @return -1, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int SetLEDValue_FromResourceName(int id, int value) SDK_BSP_NOEXCEPT;

/**
 * The LED lamp test InitializeSDK runs.
 *
 * Prints "SDK:open all led\r\n", lights run, alarm, net and "Local/Led/1".."Local/Led/14", waits
 * 1 second, prints "SDK:close all led\r\n", puts the same LEDs out and prints
 * "sdk_start_log end\r\n".
 * Power, update and extension LEDs are not touched.
 *
 * @par Threads
 *   Any thread; blocks it for 1 s.
 */
SDK_BSP_API void sdk_start_log(void) SDK_BSP_NOEXCEPT;

/**
 * No effect: the box has no beeper the library drives.
 *
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void BSP_BEEP_START(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup watchdog_steps Software watchdog steps
 *  The watchdog calls without their log lines, its set-up, and its thread.
 *  @{ */

/**
 * SoftDogEnable without the log line.
 *
 * @param enable       arms when its low 8 bits are exactly 1.
 * @param interval_ms  the interval in milliseconds.
 * @return 0, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_SoftDogEnable(int enable, unsigned int interval_ms) SDK_BSP_NOEXCEPT;

/**
 * SoftDogFeedInterval without the log line.
 *
 * @param interval_ms  the interval in milliseconds.
 * @return 0, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_SoftDogFeedInterval(unsigned int interval_ms) SDK_BSP_NOEXCEPT;

/**
 * SoftDogFeed without the log line.
 *
 * @return 0, always.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int bsp_SoftDogFeed(void) SDK_BSP_NOEXCEPT;

/**
 * Disarms the watchdog, sets the interval to 600 seconds and feeds it (InitializeSDK does this).
 *
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void bsp_SoftDog_Init(void) SDK_BSP_NOEXCEPT;

/**
 * Starts the watchdog thread (App_SoftDogFeed, its handle in thread_dog), once per process.
 *
 * @par Threads
 *   Any thread; a repeated or concurrent call does nothing.
 */
SDK_BSP_API void soft_dog_run(void) SDK_BSP_NOEXCEPT;

/**
 * The watchdog thread routine: every second the extension boards' link keep-alive tick
 * (RunComDog), then the watchdog check.
 *
 * @param arg  not used.
 * @return never returns.
 * @par Log
 *   "soft dog start,ready reboot=%d" at level 5 when the deadline has passed (see above).
 * @par Threads
 *   Runs in a thread of its own; soft_dog_run starts the one there is.
 */
SDK_BSP_API void *App_SoftDogFeed(void *arg) SDK_BSP_NOEXCEPT;

/** The watchdog thread, once soft_dog_run has started it. */
SDK_BSP_API extern pthread_t thread_dog;

/** @} */

/** @defgroup ports Serial port objects
 *  Seven serial ports, by port index: 0..3 "/dev/ttymxc1".."/dev/ttymxc4" (pass-through ports,
 *  "Local/Uart/1".."Local/Uart/4"), 4 "/dev/ttymxc5" and 5 "/dev/ttymxc6" (links to extension
 *  boards 1 and 2), 6 "/dev/ttymxc7" (the GPS receiver). The operations return a status code and
 *  print, before every error return, "ERROR: FILE:bsp_m_com, FUNCTION:%s, LINE:%d, ErrNo:0x%08x.\n"
 *  on standard output ("ASSERT: FILE: bsp_m_com, FUNCTION:%s, LINE: %d, x=NULL!\n" first for a
 *  missing record). Each port has a write lock, held for one whole write, so that frames of
 *  different threads never interleave on a wire; reads take no lock (one receive thread reads each
 *  port).
 *  @{ */

/** Success. */
#define BSP_COM_OK 0u

/** A bad port index or record size, an unsupported setting, or a termios failure. */
#define BSP_COM_ERR_PARAM 0x1020001u

/** A read or write on the device failed. */
#define BSP_COM_ERR_IO 0x1020002u

/** The device could not be opened, is not open, or could not be flushed. */
#define BSP_COM_ERR_DEVICE 0x1020004u

/** Line settings for SDK_BSP_ComSetParams (24 bytes). */
typedef struct {
    uint32_t nSize;     /**< must be sizeof(ComParams), 24 */
    uint32_t reserved;  /**< 0 */
    uint32_t nBaudrate; /**< 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600 or 115200 */
    uint32_t nDataBits; /**< 5..8 */
    uint32_t nStopBits; /**< 0 or 1: one stop bit; 2: two */
    uint32_t nParity;   /**< 0 none, 1 odd, 2 even */
} ComParams;

/** The rates a port offers, filled by SDK_BSP_ComGetCapbility (28 bytes). */
typedef struct {
    uint32_t nSize;        /**< must be sizeof(ComCapability), 28 */
    uint32_t reserved1;    /**< left as the caller set it */
    uint32_t nMinBaudrate; /**< receives 600 */
    uint32_t nMaxBaudrate; /**< receives 115200 */
    uint32_t reserved2[3]; /**< left as the caller set them */
} ComCapability;

/**
 * Opens the port's device, read-write with synchronous writes; a port already open is reopened.
 *
 * Prints "BSP_ComCreate(%d, %s) success !\n" or "BSP_ComCreate(%d, %s) Failed !\n" with the index
 * and the device on standard output.
 *
 * @param index  the port index, 0..6.
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for an index above 6; BSP_COM_ERR_DEVICE when the device
 *         cannot be opened.
 * @par Threads
 *   Any thread, but not while another thread uses the port: its old descriptor is closed.
 */
SDK_BSP_API uint32_t BSP_ComCreate(uint32_t index) SDK_BSP_NOEXCEPT;

/**
 * Closes the port; it is not open afterwards.
 *
 * @param index  the port index, 0..6.
 * @return BSP_COM_OK (also for a port not open); BSP_COM_ERR_PARAM for an index above 6.
 * @par Threads
 *   Any thread, but not while another thread uses the port.
 */
SDK_BSP_API uint32_t SDK_BSP_ComDestroy(uint32_t index) SDK_BSP_NOEXCEPT;

/**
 * The number of ports.
 *
 * @return 7.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint32_t SDK_BSP_ComGetSlots(void) SDK_BSP_NOEXCEPT;

/**
 * Fills in the lowest and highest rate a port offers.
 *
 * @param index  the port index, 0..6.
 * @param cap    the record, its nSize set to sizeof(ComCapability).
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for an index above 6, a null record or a wrong nSize.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint32_t SDK_BSP_ComGetCapbility(uint32_t index, ComCapability *cap) SDK_BSP_NOEXCEPT;

/**
 * Applies line settings in raw mode, flushing the port; reads then never wait.
 *
 * Nothing is applied when a value is refused; the refusal is printed on standard output as
 * "Unsupported nBaudrate %d\n", "Unsupported parity %d\n", "Unsupported data bits %d\n" or
 * "Unsupported stop bits %d\n".
 *
 * @param index   the port index, 0..6.
 * @param params  the settings, nSize set to sizeof(ComParams).
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for a bad index, record or setting, or a termios failure;
 *         BSP_COM_ERR_DEVICE when the port is not open.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint32_t SDK_BSP_ComSetParams(uint32_t index, const ComParams *params) SDK_BSP_NOEXCEPT;

/**
 * Writes all len bytes to the port, so one caller's buffer reaches the wire unbroken.
 *
 * @param index    the port index, 0..6.
 * @param data     the bytes; may be null when len is 0.
 * @param len      the number of bytes.
 * @param written  receives len on success, 0 otherwise; may be null.
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for a bad index or null data; BSP_COM_ERR_DEVICE when the
 *         port is not open; BSP_COM_ERR_IO when a write fails.
 * @par Threads
 *   Any thread; writes on one port are serialised by the port's write lock.
 */
SDK_BSP_API uint32_t SDK_BSP_ComWrite(uint32_t index, const uint8_t *data, uint32_t len,
                                      uint32_t *written) SDK_BSP_NOEXCEPT;

/**
 * Reads what is waiting on the port, at most len bytes, without waiting.
 *
 * @param index  the port index, 0..6.
 * @param buf    receives the bytes; may be null when len is 0.
 * @param len    the room in buf.
 * @param got    receives the count (0 when nothing waits); may be null.
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for a bad index or null buf; BSP_COM_ERR_DEVICE when the
 *         port is not open; BSP_COM_ERR_IO when the read fails.
 * @par Threads
 *   Any thread; no lock: after start-up the port's receive thread is its reader.
 */
SDK_BSP_API uint32_t SDK_BSP_ComRead(uint32_t index, uint8_t *buf, uint32_t len, uint32_t *got) SDK_BSP_NOEXCEPT;

/**
 * Discards the port's pending input and output.
 *
 * @param index  the port index, 0..6.
 * @return BSP_COM_OK; BSP_COM_ERR_PARAM for a bad index; BSP_COM_ERR_DEVICE when the port is not
 *         open or the flush fails.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint32_t SDK_BSP_ComFlush(uint32_t index) SDK_BSP_NOEXCEPT;

/**
 * Opens the seven ports and sets each to 115200 baud 8N1, once per process.
 *
 * @par Threads
 *   Any thread; a repeated or concurrent call does nothing.
 */
SDK_BSP_API void M_COM_INIT(void) SDK_BSP_NOEXCEPT;

/**
 * SDK_BSP_ComSetParams in short.
 *
 * @param index     the port index, 0..6 (7 reaches SDK_BSP_ComSetParams and fails there).
 * @param baud      the rate, as for ComParams.nBaudrate.
 * @param dataBits  5..8.
 * @param stopBits  2 means two stop bits, anything else one.
 * @param parity    0 none, 1 odd, anything else even.
 * @return the low byte of SDK_BSP_ComSetParams's status (0, 1 or 4); 255 for an index above 7.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint8_t M_BAU_SET_COM(uint32_t index, uint32_t baud, uint8_t dataBits, uint8_t stopBits,
                                  uint8_t parity) SDK_BSP_NOEXCEPT;

/**
 * The start-up defaults: 9600 8N1 stored for all sixteen Uarts and applied (ports 0..3 set, nine
 * settings frames to the boards).
 *
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void BSP_BAU_INIT(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup board_link Board link and link watchdog
 *  Frames to and from the extension boards: 0x7E, payload length (16 bits, big-endian), CID,
 *  payload, 8-bit sum of the length, CID and payload bytes, 0x0D. Channel data to board channel k
 *  goes with CID 0x80+k, line settings with 0x60+k (payload: baud rate 32 bits big-endian, data
 *  bits, stop bits, parity). The environment channel is board 1's channel 4 (CID 0x84 / 0x64).
 *  Channel indexes are receive-buffer indexes (Uart ID - 1): 4..7 board 1 channels 0..3, 8..11
 *  board 2 channels 0, 2, 1, 3. Data longer than one frame holds (5114 bytes) is sent in several
 *  frames. Senders write each frame whole under the board port's write lock and return the bytes
 *  the port took (0 when nothing was sent). Every frame to a board but EXT_TOP_DO_SET's restarts
 *  its keep-alive count.
 *  @{ */

/**
 * The sum of count bytes, modulo 256: a frame's checksum.
 *
 * @param data   the bytes; null sums to 0.
 * @param count  the number of bytes.
 * @return the sum, 0..255.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint32_t INFo_SUM(const uint8_t *data, uint32_t count) SDK_BSP_NOEXCEPT;

/**
 * Sends data to a board channel in CID 0x80+k frames.
 *
 * @param index  the channel index, 4..11 (others send nothing).
 * @param data   the bytes; may be null when len is 0.
 * @param len    the number of bytes; 0 sends one empty frame.
 * @return the bytes the port took.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API uint32_t EXT_TTYSCOM_SEND_INFO(int32_t index, const uint8_t *data, uint32_t len) SDK_BSP_NOEXCEPT;

/**
 * Sends line settings to a board channel in a CID 0x60+k frame.
 *
 * @param index     the channel index, 4..11 (others send nothing).
 * @param baud      the rate, sent as 32 bits big-endian.
 * @param dataBits  sent as its low byte.
 * @param stopBits  sent as its low byte.
 * @param parity    sent as its low byte.
 * @return the bytes the port took (13), 0 when nothing was sent.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API uint32_t EXT_TTYSCOM_SET_BAU(int32_t index, uint32_t baud, uint32_t dataBits, uint32_t stopBits,
                                         uint32_t parity) SDK_BSP_NOEXCEPT;

/**
 * Sends data to the environment channel (board 1, CID 0x84 frames).
 *
 * @param data  the bytes; may be null when len is 0.
 * @param len   the number of bytes.
 * @return the bytes the port took.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API uint32_t ENV_TTYSCOM_SEND_INFO(const uint8_t *data, uint32_t len) SDK_BSP_NOEXCEPT;

/**
 * Sends line settings to the environment channel (board 1, CID 0x64).
 *
 * @param baud      the rate, sent as 32 bits big-endian.
 * @param dataBits  sent as its low byte.
 * @param stopBits  sent as its low byte.
 * @param parity    sent as its low byte.
 * @return the bytes the port took (13), 0 when nothing was sent.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API int32_t ENV_TTYSCOM_SET_BAU(uint32_t baud, uint32_t dataBits, uint32_t stopBits,
                                        uint32_t parity) SDK_BSP_NOEXCEPT;

/**
 * Sends a one-byte frame with CID (ch - 0x57) mod 256 to board 2.
 *
 * Prints "EXT_TOP_DO_SET CH%d =%d\r\n" with ch and value on standard output. Leaves the keep-alive
 * count alone.
 *
 * @param ch     gives the CID.
 * @param value  the payload byte (its low 8 bits).
 * @return the bytes the port took (7), 0 when nothing was sent.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API int32_t EXT_TOP_DO_SET(uint32_t ch, uint32_t value) SDK_BSP_NOEXCEPT;

/**
 * Sends the keep-alive frame 7E 00 00 92 92 0D to a board.
 *
 * @param board  0 for board 1 (port 4), 1 for board 2 (port 5); others send nothing.
 * @return the bytes the port took (6), 0 when nothing was sent.
 * @par Log
 *   "COM DOG RUN EXT1 COM" or "COM DOG RUN EXT2 COM" at level 5, after the frame.
 * @par Threads
 *   Any thread; frames on one port are serialised by its write lock.
 */
SDK_BSP_API uint32_t EXT_TTYSCOM_app_dog(uint32_t board) SDK_BSP_NOEXCEPT;

/**
 * One keep-alive tick: each board's count advances, and a board sent nothing for more than 20
 * ticks gets a keep-alive (EXT_TTYSCOM_app_dog) and a count of 0.
 *
 * The watchdog thread calls it every second.
 *
 * @par Log
 *   EXT_TTYSCOM_app_dog's line for each keep-alive sent.
 * @par Threads
 *   Any thread; the counts are single words.
 */
SDK_BSP_API void RunComDog(void) SDK_BSP_NOEXCEPT;

/**
 * Restarts a board's keep-alive count.
 *
 * @param board  0 or 1; others change nothing.
 * @par Threads
 *   Any thread; the counts are single words.
 */
SDK_BSP_API void Rest_cnt_com_dog(int32_t board) SDK_BSP_NOEXCEPT;

/**
 * The ticks since the last frame to a board.
 *
 * @param board  0 or 1.
 * @return the count; 0 for any other board.
 * @par Threads
 *   Any thread; the counts are single words.
 */
SDK_BSP_API uint32_t Return_ComDog_Cnt(int32_t board) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup receive_threads Receive threads
 *  Seven threads poll the ports into the receive buffers: pass-through ports 0..3 every 200 ms into
 *  buffers 0..3; the board links (ports 4 and 5) every 100 ms, cut into frames: CID 0x41 marks the
 *  board present (BSP_BOARD_HARDWARE_RESOURCES), CID 0x50+k brings channel k's data (board 1:
 *  buffers 4..7; board 2: channels 0, 1, 2, 3 into buffers 8, 10, 9, 11), CID 0x54 the environment
 *  channel's (buffer 13); the GPS port (6) every 100 ms into buffer 15 and the sentence parser
 *  (ENV_COM_READ_THREAD). Each prints "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: %d.\n"
 *  with its port index when it starts.
 *  @{ */

/**
 * Starts the seven receive threads, once per process, then prints its own STUMP line numbered 010.
 *
 * @par Threads
 *   Any thread; a repeated or concurrent call does nothing.
 */
SDK_BSP_API void FSU_COM_READ_THREAD_START(void) SDK_BSP_NOEXCEPT;

/**
 * The pass-through thread routine: every 200 ms copies what port 0..3 holds into its receive
 * buffer (the buffer is cleared as it starts).
 *
 * @param arg  points at an int holding the port index, 0..3.
 * @return null at once for a port above 3; otherwise never returns.
 * @par Log
 *   "M_COM_READ_THREAD com %d recv info len=%d" at level 5 with the port and the buffer's fill,
 *   for every read that brought bytes.
 * @par Threads
 *   Runs in a thread of its own; one per port.
 */
SDK_BSP_API void *M_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/**
 * The board-link thread routine: every 100 ms reads port 4 or 5, cuts whole frames out of the
 * stream (read_a_msg) and handles them.
 *
 * @param arg  points at an int holding the port index, 4 or 5.
 * @return never returns.
 * @par Log
 *   "COM_index err %d" at level 2 for a port other than 4 or 5 as it starts; for every frame
 *   "CID=%02x nLength=%d\r\n" at level 4; for channel data
 *   "EXT_M_COM_READ_THREAD com %d sol_index=%d recv info len=%d/%d/%d" at level 4 (buffer, port,
 *   the buffer's fill, the payload, the bytes kept), for the environment channel
 *   "M_COM_READ_THREAD com %d recv info len=%d" at level 5 (buffer 13, its fill).
 * @par Threads
 *   Runs in a thread of its own; one per board port.
 */
SDK_BSP_API void *EXT_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/**
 * Cuts the first whole board-link frame out of a board's stream.
 *
 * The first position that starts a whole frame (0x7E, length, ..., 0x0D where the length says)
 * wins: the frame is copied to msg, it and everything before it leave acc.
 *
 * @param acc       the stream's bytes, fill of them.
 * @param msg       receives the frame; must hold 5120 bytes.
 * @param fill      the bytes in acc, 1..5120.
 * @param new_fill  receives what remains in acc; may be null.
 * @return the frame's length, or 0 (nothing changed) when acc holds no whole frame, or for a null
 *         acc or msg or a fill outside 1..5120.
 * @par Threads
 *   Any thread; works on the caller's buffers only.
 */
SDK_BSP_API int read_a_msg(unsigned char *acc, unsigned char *msg, int fill, int *new_fill) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup env_link Environment link
 *  The steps of the send loop that carries output requests to the environment equipment (board
 *  1's channel 4), and the GPS read loop that clears the environment record as it starts (the
 *  record and the send loop are among the host's API). An output request is handed over through its flag: the
 *  requester stores the value, then the flag; the send loop takes the flag with an atomic exchange,
 *  then reads the value, so no request is lost or sent without its value.
 *  @{ */

/** The buffer SET_DO_CMD writes into: the output command with its ten INFO bytes. */
#define SDK_BSP_OUTPUT_COMMAND_SIZE 38

/**
 * Tells whether an output request is pending.
 *
 * Prints "ready set do %d" (no line end) with the first pending output's number on standard output.
 *
 * @return 1 when any of the eight request flags is set, else -1.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int DO_API_SET_CHECK(void) SDK_BSP_NOEXCEPT;

/**
 * Builds the output-command frame, consuming the pending requests.
 *
 * The mask of DO 1..4 carries the requested value of each output with a pending request (its flag
 * taken) and the present state of the others.
 *
 * @param frame  receives the frame, not zero-terminated; must hold SDK_BSP_OUTPUT_COMMAND_SIZE (38)
 *               bytes (declared [static 38] in C, see SDK_BSP_SIZED).
 * @return the frame's length (38); 0 for a null frame.
 * @par Threads
 *   Any thread; each request flag is taken with an atomic exchange.
 */
SDK_BSP_API int SET_DO_CMD(char frame[SDK_BSP_SIZED(SDK_BSP_OUTPUT_COMMAND_SIZE)]) SDK_BSP_NOEXCEPT;

/**
 * Sets the host's one-shot latch (read back by REAG_ENV_BOARD_RIGHT_FG).
 *
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void SET_ENV_BOARD_RIGHT_FG(void) SDK_BSP_NOEXCEPT;

/**
 * Reads and resets the host's one-shot latch.
 *
 * @return 1 once after SET_ENV_BOARD_RIGHT_FG, else 0.
 * @par Threads
 *   Any thread; the latch is taken with an atomic exchange.
 */
SDK_BSP_API uint32_t REAG_ENV_BOARD_RIGHT_FG(void) SDK_BSP_NOEXCEPT;

/**
 * The GPS read loop: gathers the receiver's bytes and hands them to the parser in batches.
 *
 * Sets port 6 to 9600 8N1, clears the environment record, then every 100 ms appends what arrived
 * on the port to receive buffer 15 and hands the buffer to BSP_GPS_READ; a batch it takes (more
 * than 1024 bytes) empties the buffer.
 *
 * @param arg  points at an int holding the port index (6).
 * @return never returns.
 * @par Log
 *   "GPS:J:%f;W:%f" at level 5 with longitude and latitude, after every batch parsed.
 * @par Threads
 *   Runs in a thread of its own; FSU_COM_READ_THREAD_START starts the one there is.
 */
SDK_BSP_API void *ENV_COM_READ_THREAD(void *arg) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup power_codec Power-protocol codec
 *  The frame of the YD/T 1363 power and environment protocol spoken on the environment channel,
 *  as ASCII text:
 *
 *      "~" VER ADR CID1 CID2 LENGTH INFO CHKSUM "\r"
 *
 *  Every binary field is written as two upper-case hexadecimal characters, high nibble first.
 *  LENGTH is 16 bits: LCHKSUM in bits 12-15 and LENID, the number of INFO characters (twice the
 *  INFO bytes), in bits 0-11; LCHKSUM = (16 - (sum of LENID's three nibbles) mod 16) mod 16. CHKSUM
 *  is the 16-bit two's complement of the sum of the ASCII codes from VER to the end of INFO. A
 *  frame with n INFO bytes is 2n + 18 characters long; with no INFO it is, for example,
 *  "~FFFF03540000FD5C\r". None of these functions logs or keeps state: each works on the caller's
 *  buffers only.
 *  @{ */

/** The INFO bytes a command record holds. */
#define SDK_BSP_POWER_INFO_MAX 256

/** The longest frame the encoder writes (2 x 256 + 18). */
#define SDK_BSP_POWER_FRAME_MAX 530

/**
 * One command for POWER_7E_CMDSend (268 bytes, natural C layout).
 *
 * Three padding bytes follow CID2; INFO_LEN is at offset 8 and INFO at offset 12.
 */
typedef struct {
    uint8_t lead;      /**< not read by the encoder */
    uint8_t VER;       /**< protocol version */
    uint8_t ADR;       /**< device address */
    uint8_t CID1;      /**< device type code */
    uint8_t CID2;      /**< command code */
    uint32_t INFO_LEN; /**< number of INFO bytes, 0 to SDK_BSP_POWER_INFO_MAX */
    uint8_t INFO[SDK_BSP_POWER_INFO_MAX]; /**< the INFO bytes */
} STR_POWER_CMD;

/**
 * Encodes a command as one complete frame, "~" to "\r" (not zero-terminated).
 *
 * @param cmd    the command.
 * @param frame  receives the frame; must hold 2 x INFO_LEN + 18 bytes (SDK_BSP_POWER_FRAME_MAX at
 *               most).
 * @return the number of characters written; 0, writing nothing, when cmd or frame is null or
 *         INFO_LEN is above SDK_BSP_POWER_INFO_MAX.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int POWER_7E_CMDSend(const STR_POWER_CMD *cmd, char *frame) SDK_BSP_NOEXCEPT;

/**
 * The LENGTH field for a number of INFO bytes: LENID = 2 x info_bytes, kept to its low 12 bits,
 * with its LCHKSUM in bits 12-15.
 *
 * For example 10 bytes give 0xB014, one byte 0xE002, none 0x0000.
 *
 * @param info_bytes  the INFO bytes.
 * @return the LENGTH field.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint16_t EnCheckLTH(uint16_t info_bytes) SDK_BSP_NOEXCEPT;

/**
 * Appends the four CHKSUM characters of a text at text[count] to text[count + 3] (no NUL is added).
 *
 * @param text   the characters; must hold count + 4 bytes. Null gets nothing written.
 * @param count  the characters summed.
 * @return count + 4.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int EnCheckSum(char *text, uint16_t count) SDK_BSP_NOEXCEPT;

/**
 * Checks the checksum of a received frame.
 *
 * @param text   the frame's characters from VER through CHKSUM (without "~" and "\r").
 * @param count  their number.
 * @return 0 when the last four characters spell the checksum of the others, written wholly in
 *         upper case or wholly in lower case; 1 otherwise, also for a null text or a count below 4.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int CheckSum(const char *text, int count) SDK_BSP_NOEXCEPT;

/**
 * Checks the LENGTH of a received frame already converted to binary.
 *
 * @param length       its two LENGTH bytes, high byte first.
 * @param frame_bytes  the binary length from VER through CHKSUM (8 + the INFO bytes).
 * @return 0 when LENGTH is consistent; 3 when LENID is not 2 x (frame_bytes - 8), also for a
 *         frame_bytes below 8 or a null length (LCHKSUM is then not looked at); 1 when LCHKSUM is
 *         wrong.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int CheckLTH(const unsigned char *length, uint16_t frame_bytes) SDK_BSP_NOEXCEPT;

/**
 * Turns nibble values into hexadecimal characters in place.
 *
 * Each of the first 2 x (count / 2) bytes becomes '0' + value when below 10, else
 * 'A' + (value - 10). With an odd count the last byte is left as it is.
 *
 * @param data   the bytes; null does nothing.
 * @param count  their number.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API void HexToAsc(unsigned char *data, uint16_t count) SDK_BSP_NOEXCEPT;

/**
 * Splits bytes in place into nibble bytes, high nibble first.
 *
 * @param data   the bytes; must hold 2 x count bytes. Null does nothing.
 * @param count  the bytes split.
 * @return 2 x count (in 16 bits).
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint16_t Data_Open(unsigned char *data, uint16_t count) SDK_BSP_NOEXCEPT;

/**
 * Joins nibble bytes in place: byte i becomes (nibble 2i shifted left by 4) | nibble 2i+1 for i
 * below count / 2, then bytes count / 2 to count - 1 are zeroed.
 *
 * @param data   the nibble bytes; null does nothing.
 * @param count  their number.
 * @return count / 2.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint8_t Data_Close(unsigned char *data, uint8_t count) SDK_BSP_NOEXCEPT;

/**
 * The byte that two hexadecimal characters spell, the first one high ("aF" gives 0xAF).
 *
 * "0"-"9", "A"-"F" and "a"-"f" count; any other character counts as the digit 0 ("G1" gives 0x01).
 *
 * @param text  the two characters.
 * @return the byte; 0 for a null text.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint8_t bsp_AscToHex(const char *text) SDK_BSP_NOEXCEPT;

/**
 * The 16-bit value that four hexadecimal characters spell, the first one most significant;
 * characters count as for bsp_AscToHex.
 *
 * @param text  the four characters.
 * @return the value; 0 for a null text.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API uint16_t AscToUnShort(const char *text) SDK_BSP_NOEXCEPT;

/**
 * The system clock in whole seconds since 1970-01-01 00:00:00 UTC.
 *
 * @return the seconds, cut to 32 bits.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int32_t READ_SYSTEM_UnixTime(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup receive_buffers Receive buffers
 *  Received serial data waits in sixteen buffers of 4096 bytes, buffer index = Uart ID - 1, filled
 *  by the library's receive threads. A buffer keeps the oldest bytes: what arrives while it is full
 *  is lost until the application drains it. Bytes are handed out in arrival order, each once. Each
 *  buffer has its own lock, held for one append or one drain.
 *  @{ */

/** The number of receive buffers. */
#define SDK_BSP_RECV_BUFFERS 16

/** The bytes one receive buffer holds. */
#define SDK_BSP_RECV_BUFFER_SIZE 4096

/**
 * Takes bytes from a receive buffer, oldest first.
 *
 * What is left stays, in order, for the next call.
 *
 * @param index  the buffer, 0..15.
 * @param dest   points at the area that receives the bytes, which must hold max bytes (*dest
 *               itself is not changed).
 * @param max    the most bytes to take.
 * @return the number of bytes taken, at most 4096: 0 when the buffer is empty, and for an index
 *         above 15, a max of 0 or less, or a null dest or *dest.
 * @par Threads
 *   Any thread; the drain holds the buffer's lock (an empty buffer is answered without it).
 */
SDK_BSP_API int SDK_Read_COM(uint32_t index, unsigned char **dest, int max) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup modem_record Modem state record
 *  Where the wireless-modem subsystem keeps its state: the Dial API leaves its requests here, the
 *  LTE supervisor thread serves them and keeps the interface addresses, module detection stores
 *  the module number and AT device, the modem queries store signal, registration, IMSI, IMEI and
 *  position texts, and the AT channel counts its time-outs. The record is zero when the library is
 *  loaded.
 *
 *  Texts are zero-terminated and hold at most 19 characters in 20 bytes; the library never writes
 *  a longer one (a longer answer from the module is cut). The library writes and copies the texts
 *  under one internal lock, so its own readers never see one half written; a host that reads them
 *  directly may see a text while it is being rewritten. The integers are single aligned words: a
 *  host may set a request flag (pppdstart, pppdend, softreboot, hardreboot) to 1 at any time, and
 *  the supervisor clears it when it serves it.
 *  @{ */

/** The size of every text field of NTU, terminator included. */
#define SDK_BSP_NTU_TEXT_SIZE 20

/** The modem state record: 572 bytes, the fields in this order with no gaps. */
typedef struct {
    int32_t pppdstart;  /**< 1: request to start the dial-up (DialDial sets it) */
    int32_t pppdend;    /**< 1: request to hang up and stop pppd (DialTerminate) */
    int32_t softreboot; /**< 1: request to restart the module by AT command (DialSoftReboot) */
    int32_t hardreboot; /**< 1: request to power-cycle the module (DialHardReboot) */
    int32_t usbstate;   /**< 1 or 2: the module's serial ports are known to exist (set by the host) */
    int32_t reserved1[3]; /**< reserved; cleared by data_init */
    int32_t attimeouts;   /**< AT exchanges that ended in a time-out since the process started */
    int32_t reserved2[4]; /**< reserved; cleared by data_init */
    char lteip[SDK_BSP_NTU_TEXT_SIZE];  /**< IPv4 address of "ppp0", empty when none */
    char lteip1[SDK_BSP_NTU_TEXT_SIZE]; /**< IPv4 address of "ppp1", empty when none */
    int32_t dialstarted;                /**< 1 once the dial script has been started */
    int32_t reserved3;                  /**< reserved; cleared by data_init */
    int32_t mode_id;                    /**< the module's row of the modem table, from 1; 0 none found */
    char atdev[SDK_BSP_NTU_TEXT_SIZE];  /**< the AT device of the detected module, e.g. "/dev/ttyUSB3" */
    char csq[SDK_BSP_NTU_TEXT_SIZE];    /**< signal strength in dBm, e.g. "-73"; "-107" when unusable */
    char imsi[SDK_BSP_NTU_TEXT_SIZE];   /**< the IMSI, as read by read_MINI1 or read_MINI */
    char imei[SDK_BSP_NTU_TEXT_SIZE];   /**< the IMEI, 15 digits, as read by readIMEI */
    char netstate[SDK_BSP_NTU_TEXT_SIZE]; /**< "SIM_OK", "SIMOVER" or the network type ("LTE", ...) */
    char reserved4[3][SDK_BSP_NTU_TEXT_SIZE]; /**< reserved; cleared by data_init */
    char reserved5[60];                       /**< reserved; never written */
    char reserved6[2][60];                    /**< reserved; cleared by data_init */
    char reserved7[4];                        /**< reserved; never written */
    char reserved8[3][SDK_BSP_NTU_TEXT_SIZE]; /**< reserved; cleared by data_init */
    char longitude[SDK_BSP_NTU_TEXT_SIZE]; /**< longitude from readgps, 4 decimals, e.g. "113.9464" */
    char latitude[SDK_BSP_NTU_TEXT_SIZE];  /**< latitude from readgps, 4 decimals */
    char high[SDK_BSP_NTU_TEXT_SIZE];      /**< height from readgps, a decimal integer */
    int32_t cardstat; /**< 1: a SIM is present (an IMSI is known); set by read_MINI and the Dial API */
} NTU_T;

/** The modem state record. */
SDK_BSP_API extern NTU_T NTU;

/**
 * Clears the modem state record for a fresh start of the LTE supervisor.
 *
 * The four request flags, usbstate, mode_id, cardstat, dialstarted and the reserved integers
 * become 0; lteip, lteip1, atdev, csq, netstate, longitude, latitude, high and the reserved texts
 * become empty. imsi, imei and attimeouts are kept, so an IMSI and IMEI once read survive a
 * restart of the supervisor. A request flag set before the call is cleared, not served.
 *
 * @par Output
 *   "################NTU.mode_id=0\n" on standard output.
 * @par Threads
 *   The supervisor thread, at its start; any thread may call it.
 */
SDK_BSP_API void data_init(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup modem_at AT command channel
 *  The one channel to the cellular module's AT port (the AT device of the modem table, e.g.
 *  "/dev/ttyUSB3"): it opens the port, writes a command line ending in a carriage return (no line
 *  feed), reads the answer line by line, polling every 100 ms without blocking, recognises the
 *  answer it waits for, and cuts answers of the form name, colon, comma-separated values into
 *  tokens. There is one port and one receive buffer of 8192 characters for the process; the
 *  channel belongs to the LTE supervisor thread, and its calls are not locked: a host that calls
 *  them while the supervisor runs garbles both conversations. The modem queries below hold the
 *  channel for their whole conversation, so they may be called from any thread.
 *
 *  Every step is traced in the log at level 3 (written to the file only, after SDK_LOG_PAR_INIT).
 *  The line reader writes, for each poll: "read#######,<poll>,<maxpolls>",
 *  "LTE_TEHED fun=readline,Line=854;", "LTE_TEHED fun=readline,Line=856;ltefd=<fd>,l=<room>",
 *  "LTE_TEHED fun=readline,Line=858;", "read!!!!!!,<poll>,<maxpolls>"; "AT< <line>\n" for each
 *  line it hands out; "ticksleep end,<poll>,<maxpolls>" when it gives up; and
 *  "tERROR: Input line exceeded buffer" when 8192 characters came without a line end (they are
 *  dropped and reading goes on).
 *
 *  Exchanges (write_wait_read, write_wait_read1, write_wait_readcimi) send a command, then read
 *  lines until one begins with the expected prefix. Answer lines are upper-cased in place before
 *  they are tested or kept. An exchange tolerates maxlines lines that are neither the expected one
 *  nor an error, or empty waits of seconds × 10 polls, and gives up on the next one. Results:
 *  0 the expected line came; -1 the command could not be written; -2 time-out; -3 a line
 *  containing "ERROR" came (for write_wait_readcimi also "COMMAND NOT SUPPORT"). The prefix is
 *  tested first, so an expected line that also contains "ERROR" is a success. The destination
 *  must hold 1024 bytes: what an exchange writes there is cut at 1023 characters and
 *  zero-terminated.
 *  @{ */

/**
 * Opens the AT port for the exchanges that follow.
 *
 * A port still open is closed first. The device is opened read-write and non-blocking (never as
 * the caller's controlling terminal); on a terminal, local modes (echo, canonical input, signals)
 * are switched off and reads return at once with what is waiting; input, output and control modes
 * and the line speed stay as they are.
 *
 * @param path  the AT device, e.g. "/dev/ttyUSB3"; not null.
 * @return 0 when the port is open, -1 when it could not be opened (or path is null).
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API int at_port_open(const char *path) SDK_BSP_NOEXCEPT;

/**
 * Closes the AT port, if open.
 *
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API void at_port_close(void) SDK_BSP_NOEXCEPT;

/**
 * Writes one command line to the AT port, then a carriage return.
 *
 * Partial and interrupted writes are repeated until the whole line is written; no line feed is
 * sent.
 *
 * @param line  the command without its line end, e.g. "AT+CSQ"; null writes nothing and fails.
 * @return 0 when written; -1 when no port is open or a write failed.
 * @par Output
 *   "??????ltefd=-1???????\n" on standard output when no port is open.
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API int writeline(const char *line) SDK_BSP_NOEXCEPT;

/**
 * Returns the next answer line, waiting for it at most maxpolls + 1 polls of 100 ms.
 *
 * Lines end at a carriage return or a line feed; empty lines are skipped, and the prompt "> "
 * (with nothing after it) counts as a line. Lines that arrived together are kept for the next
 * calls.
 *
 * @param maxpolls  the number of polls to wait beyond the first.
 * @return the line, zero-terminated without its line end, in the channel's buffer (valid until
 *   the next call of the channel); null when none came in time.
 * @par Log
 *   The line reader's lines of the group's notes, at level 3.
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API char *readline(int maxpolls) SDK_BSP_NOEXCEPT;

/**
 * Finds the end of the line that starts at cur.
 *
 * @param cur  a zero-terminated text; null gives null.
 * @return the first carriage return or line feed at or after cur; when the text at cur is exactly
 *   "> ", its terminating zero (the prompt is a whole line); null when the text ends first.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API char *findNextEOL(char *cur) SDK_BSP_NOEXCEPT;

/**
 * Sends a command and waits for the answer line that begins with prefix.
 *
 * The channel's buffer is cleared first. On success the expected line alone replaces the text in
 * dst, and the call returns 20 ms later; dst is left as it was on every failure. Each time-out
 * adds 1 to NTU.attimeouts.
 *
 * @param cmd       the command, e.g. "AT+CSQ"; "" sends nothing and only reads.
 * @param prefix    the expected beginning, e.g. "+CSQ"; upper-cased in place (only lower-case
 *                  letters are written, so an upper-case literal may be passed).
 * @param dst       receives the line; 1024 bytes (at most 1023 characters are written).
 * @param maxlines  other lines or empty waits tolerated.
 * @param seconds   the wait for each line, in seconds.
 * @return 0, -1, -2 or -3 as in the group's notes (-1 also for a null argument).
 * @par Log
 *   At level 3: "AT> <cmd>" before the write; "AT <,Line=<line>;" for every line;
 *   "At time out" or, when nothing came, "no data At time out" on a time-out; trace lines
 *   "LTE_TEHED fun=write_wait_read,Line=<n>;" (n = 968, 971, 974, 976, 979, 981, 999) and
 *   "LTE_TEHED fun=write_wait_read,Line=986;line=<line>"; and the line reader's lines.
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API int write_wait_read(const char *cmd, char *prefix, char *dst, int maxlines, int seconds) SDK_BSP_NOEXCEPT;

/**
 * Sends a command and collects every answer line up to the one that begins with prefix.
 *
 * As write_wait_read, but every line read (the expected and the failing one included) is appended
 * to dst without a separator, and dst is not cleared first (the caller clears it).
 *
 * @param cmd       the command; "" sends nothing and only reads.
 * @param prefix    the expected beginning, e.g. "OK"; upper-cased in place as for write_wait_read.
 * @param dst       the zero-terminated text to append to; 1024 bytes (the whole text is cut at 1023
 *                  characters).
 * @param maxlines  other lines or empty waits tolerated.
 * @param seconds   the wait for each line, in seconds.
 * @return 0, -1, -2 or -3 as in the group's notes; a time-out adds 1 to NTU.attimeouts.
 * @par Log
 *   At level 3: "AT <,Line=<line>;" for every line, then "!!!!!!!!!!!!line=<line>" (empty when
 *   nothing came); and the line reader's lines.
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API int write_wait_read1(const char *cmd, char *prefix, char *dst, int maxlines, int seconds) SDK_BSP_NOEXCEPT;

/**
 * Sends a command and collects every answer line; also fails on "COMMAND NOT SUPPORT".
 *
 * As write_wait_read1, but a line containing "ERROR" or "COMMAND NOT SUPPORT" ends it with -3, and
 * a time-out is not counted in NTU.attimeouts.
 *
 * @param cmd       the command; "" sends nothing and only reads.
 * @param prefix    the expected beginning; upper-cased in place as for write_wait_read.
 * @param dst       the zero-terminated text to append to; 1024 bytes (cut at 1023 characters).
 * @param maxlines  other lines or empty waits tolerated.
 * @param seconds   the wait for each line, in seconds.
 * @return 0, -1, -2 or -3 as in the group's notes.
 * @par Log
 *   At level 3: "writeline=<cmd>" after the write (also when it failed);
 *   "#####################line=<line>" for every line; and the line reader's lines.
 * @par Threads
 *   The supervisor thread (see the group's notes).
 */
SDK_BSP_API int write_wait_readcimi(const char *cmd, char *prefix, char *dst, int maxlines, int seconds) SDK_BSP_NOEXCEPT;

/**
 * Moves a cursor past the first ':' of an answer line.
 *
 * The tokenizer calls work on a cursor, a pointer to a text pointer that they advance; they cut the
 * text in place (commas and closing quotes become zero bytes).
 *
 * @param cur  the cursor, e.g. the address of a pointer to "+CSQ: 21,99".
 * @return 0; -1 when the cursor (or its text) is null or the text has no ':'.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int at_tok_start(char **cur) SDK_BSP_NOEXCEPT;

/**
 * Moves a cursor past white space (the characters isspace accepts).
 *
 * @param cur  the cursor; a null cursor or text is left alone.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API void skipWhiteSpace(char **cur) SDK_BSP_NOEXCEPT;

/**
 * Moves a cursor one past the next ',', or onto the terminating zero when there is none.
 *
 * @param cur  the cursor; a null cursor or text is left alone.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API void skipNextComma(char **cur) SDK_BSP_NOEXCEPT;

/**
 * Cuts the next token at the cursor.
 *
 * White space is skipped. A token that starts with '"' runs to the next '"' (the quotes are not
 * part of it) and the cursor moves past the comma that follows; any other token runs to the next
 * comma. The cursor becomes null when the text ends (also inside an unclosed quote).
 *
 * @param cur  the cursor.
 * @return the token (possibly empty); null when the cursor or its text is null.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API char *nextTok(char **cur) SDK_BSP_NOEXCEPT;

/**
 * Reads the next token as an integer.
 *
 * @param cur          the cursor.
 * @param out          receives the value (also 0 when the token holds no digit); not null.
 * @param base         the base, as for strtol.
 * @param is_unsigned  non-zero: converted with strtoul, else strtol.
 * @return 0; -1 when the cursor is null, no token came or it begins with no digit.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int at_tok_nextint_base(char **cur, int *out, int base, int is_unsigned) SDK_BSP_NOEXCEPT;

/**
 * Reads the next token as a signed decimal integer (at_tok_nextint_base with base 10).
 *
 * @param cur  the cursor.
 * @param out  receives the value; not null.
 * @return 0, or -1 as at_tok_nextint_base.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int at_tok_nextint(char **cur, int *out) SDK_BSP_NOEXCEPT;

/**
 * Reads the next token as an unsigned hexadecimal integer (at_tok_nextint_base with base 16).
 *
 * @param cur  the cursor.
 * @param out  receives the value; not null.
 * @return 0, or -1 as at_tok_nextint_base.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int at_tok_nexthexint(char **cur, int *out) SDK_BSP_NOEXCEPT;

/**
 * Tells whether line begins with prefix (case matters; an empty prefix matches every line).
 *
 * @param line    the text; null gives 0.
 * @param prefix  the beginning; null gives 0.
 * @return 1 or 0.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int strStartsWith(const char *line, const char *prefix) SDK_BSP_NOEXCEPT;

/**
 * Turns the letters a to z of a text into A to Z, in place; other bytes stay.
 *
 * @param s  the text; null is returned as it is.
 * @return s.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API char *to_upper(char *s) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup modem_queries Modem queries
 *  The LTE supervisor's conversations with the module. Each opens the AT device given (at_port_open),
 *  runs one exchange with the channel's 1024-byte answer buffer as destination, interprets the
 *  answer, stores texts in NTU, and closes the port on every path. A query whose port does not open
 *  returns at once, changing nothing. A query holds the channel for its whole conversation, so
 *  queries called from several threads run one after the other; one that gets no answer holds it
 *  for (lines tolerated + 1) × (10 × seconds + 1) polls of 100 ms, e.g. 3.3 s for readcsq.
 *
 *    query                command              expects       tolerated  seconds  stores
 *    send_ate             "ATE0"               "OK"          2          1        nothing
 *    readcsq              "AT+CSQ"             "+CSQ"        2          1        csq
 *    read_sysinfo         "AT^SYSINFO"         "^SYSINFO"    2          2        netstate
 *    read_MINI1           "AT+CIMI"            "OK"          2          2        imsi
 *    readIMEI             "AT+CGSN"            "OK"          4          1        imei
 *    send_ath             "ATH"                "OK"          1          1        nothing
 *    send_DialSoftReboot  "AT+CFUN=1,1"        "OK"          2          1        nothing
 *    read_MINI            "AT+CIMI"            "+CIMI: "     2          2        imsi, cardstat
 *    readgps              "~2101D0900000FD9F"  "~"           2          1        longitude, latitude, high
 *
 *  Texts longer than a field holds (19 characters) are cut. The queries log through the channel
 *  (level 3); their other prints are stated with each one.
 *  @{ */

/**
 * Switches the module's echo off ("ATE0"), so that later answers carry no copy of their command.
 *
 * @param atdev  the AT device, e.g. NTU.atdev.
 * @return 1 done; -1 the port did not open or the module did not answer "OK".
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int send_ate(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads the signal strength ("AT+CSQ") into NTU.csq, in dBm.
 *
 * The first number r of the "+CSQ" answer gives: 99 or less than 4, or no number, "-107";
 * 4 to 9 r - 103; 10 to 15 r - 87; 16 to 21 r - 89; 22 and above r - 85 (so 15 gives "-72" and
 * 16 "-73"). NTU.csq is left as it was when the exchange fails.
 *
 * @param atdev  the AT device.
 * @return 1 stored; 0 the port did not open, or the answer held no two numbers ("-107" stored);
 *   -1 the exchange failed.
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int readcsq(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads registration, SIM state and network type ("AT^SYSINFO") into NTU.netstate.
 *
 * The answer is read with ParseRegistrationState_GT9615. When the module is not in service the
 * call waits 2 s before it returns.
 *
 * @param atdev  the AT device.
 * @return the system mode (above 0) when in service; -1 otherwise (port, exchange, answer, or no
 *   service).
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int read_sysinfo(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads the IMSI ("AT+CIMI", every line up to "OK" collected) into NTU.imsi.
 *
 * After a successful exchange NTU.imsi is cleared; from the collected text an echo "AT+CIMI" and
 * what precedes it are dropped, the text is cut at "OK", and when more than 10 characters remain
 * they become the IMSI (cut at 19). On a failed exchange NTU.imsi stays.
 *
 * @param atdev  the AT device.
 * @par Output
 *   "AT+CIMI=<collected text>\n" on standard output after the exchange, whatever its result.
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API void read_MINI1(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads the IMEI ("AT+CGSN", all lines collected) into NTU.imei.
 *
 * The first form the collected text matches decides: "+CGSN:\"<imei>\"OK", "+CGSN: \"<imei>\"OK",
 * "+CGSN: <imei>OK", "+CGSN:<imei>OK"; with the echo "AT+CGSN": "0X<hexadecimal>" (stored as a
 * 15-digit decimal, "%015lld") or the text after the echo; otherwise the text before "OK". Each
 * form clears NTU.imei and stores its candidate only when it is exactly 15 characters (the
 * hexadecimal form always). A quoted form without its closing "\"OK" stores nothing.
 *
 * @param atdev  the AT device.
 * @return 1 stored; 0 otherwise (port, exchange, or no usable IMEI).
 * @par Output
 *   On standard output: for the quoted forms "###############<text from the marker>,strlen(&ptr1[7])=<n>\n"
 *   (without space) or "###############<text from the marker>\n" (with space); then, for the forms
 *   with a "+CGSN:" marker and the plain form, "NTU.imei=<imei>" (no line end).
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int readIMEI(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Hangs up ("ATH").
 *
 * @param atdev  the AT device.
 * @return 1 done; -1 the port did not open or the module did not answer "OK".
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int send_ath(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Restarts the module by command ("AT+CFUN=1,1").
 *
 * @param atdev  the AT device.
 * @return 1 the module accepted ("OK"); -1 the port did not open or it did not accept.
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API int send_DialSoftReboot(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads the IMSI in its prefixed form ("+CIMI: <imsi>") into NTU.imsi, and the SIM presence.
 *
 * After a successful exchange NTU.imsi is cleared and, when the answer contains "CIMI" and is
 * longer than 10 characters, the text after "+CIMI: " is stored (cut at 19). Then, whatever the
 * exchange gave, NTU.cardstat becomes 1 when the channel's answer buffer contains "4600" (a SIM of
 * a Chinese network), else 0. Not called by the supervisor.
 *
 * @param atdev  the AT device.
 * @par Output
 *   "AT+CIMI=<answer line>\n" on standard output after the exchange, whatever its result.
 * @par Log
 *   The channel's lines, level 3.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API void read_MINI(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Asks the module for its position with the power-protocol query frame "~2101D0900000FD9F".
 *
 * The answer line must begin with "~" and hold at least 17 characters. Eight hexadecimal
 * characters from offset 15 give the longitude, the next eight (offset 23) the latitude, the next
 * four (offset 31) the height, each read with hexstrtolong (characters missing from a short answer
 * count 0) and written with "%d"; a decimal point is put before the last four digits of the
 * longitude and the latitude (gpsaddpoint). A failed exchange or a shorter answer changes nothing.
 * Not called by the supervisor.
 *
 * @param atdev  the AT device.
 * @par Log
 *   "GPS data:Latitude=<latitude>,Longitude=<longitude>,high=<high>" at level 3, and the channel's
 *   lines.
 * @par Threads
 *   Any thread; queries run one at a time.
 */
SDK_BSP_API void readgps(const char *atdev) SDK_BSP_NOEXCEPT;

/**
 * Reads the signal strength from a "+CSQ" answer line.
 *
 * @param line  e.g. "+CSQ: 21,99"; cut in place by the tokenizer.
 * @return the first number (21); -999 when the line has no ':' or not two numbers after it.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int readCSQState(char *line) SDK_BSP_NOEXCEPT;

/**
 * Reads a "^SYSINFO" answer line into NTU.netstate.
 *
 * Five numbers after the ':': service status, service domain, roaming status, system mode, SIM
 * state. With fewer, NTU.netstate stays and -1 is returned. The SIM state gives "SIM_OK" (1) or
 * "SIMOVER" (0 or 255; other values: empty); when the service status or domain is below 1 that
 * text is stored and -1 returned. Otherwise the system mode gives "NOSERVICE" (0), "CDMA" (2),
 * "GSM/GPRS" (3), "EVDO" (4), "WCDMA" (5), "TD-SCDMA" (15), "LTE" (9 or 17), empty (others).
 *
 * @param line  e.g. "^SYSINFO: 2,3,0,9,1"; cut in place by the tokenizer.
 * @return the system mode (9 in the example), or -1.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API int ParseRegistrationState_GT9615(char *line) SDK_BSP_NOEXCEPT;

/**
 * Reads a hexadecimal text: each character's c2i value (sign-extended) is shifted left by 4 bits
 * for every character after it and combined with OR.
 *
 * For up to 16 hexadecimal digits this is the ordinary value ("1A" gives 26); digits shifted
 * beyond 64 bits are lost.
 *
 * @param text  the text; null gives 0.
 * @return the value.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int64_t hex2dec(const char *text) SDK_BSP_NOEXCEPT;

/**
 * The value of one digit: '0'-'9' 0-9, 'A'-'F' 10-15, 'a'-'z' 10-35; any other character -1.
 *
 * @param c  the character.
 * @return its value, or -1.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int c2i(char c) SDK_BSP_NOEXCEPT;

/**
 * Reads the first n characters of a text as a hexadecimal number, modulo 2^32.
 *
 * '0'-'9', 'a'-'f' and 'A'-'F' count 0-15, any other character 0; a text shorter than n counts its
 * missing characters as 0 ("12" with n = 4 gives 0x1200).
 *
 * @param text  the text; null gives 0.
 * @param n     the number of characters; 0 or less gives 0.
 * @return the value as a signed 32-bit number.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int hexstrtolong(const char *text, int n) SDK_BSP_NOEXCEPT;

/**
 * Puts a decimal point before the last n characters of a text, in place.
 *
 * A text of at least n + 1 characters grows by one character ("1139464" with n = 4 becomes
 * "113.9464"); the caller's buffer must have room for it. Shorter texts are left alone.
 *
 * @param text  the text; null is left alone.
 * @param n     the number of decimals; below 0 does nothing.
 * @par Threads
 *   Any thread, on its own text.
 */
SDK_BSP_API void gpsaddpoint(char *text, int n) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup modem_detect Modem detection and network configuration
 *  Which cellular module is fitted, found by matching the output of "lsusb" against the modem table
 *  ltemm; the module's number and AT device go into NTU.mode_id and NTU.atdev, the dial-up
 *  interface "ppp0" is pointed at the module's data device with "uci", and the USB serial driver
 *  "option1" is told the ids of the modules it does not know by itself. Also the small
 *  shell-command runners of the subsystem, and the IPv4 address of a network interface. The LTE
 *  supervisor runs detection and reads the addresses on every second pass of its loop.
 *
 *  Commands run through /bin/sh (popen), standard error on /dev/null, and are appended to
 *  SDK_BSP_CMDLOG when it is set. Paths inside them are taken under SDK_BSP_ROOT, whose bin/ comes
 *  first on PATH, so a simulated box's "lsusb", "uci" and "ifconfig" answer.
 *  @{ */

/** The rows of the modem table. */
#define SDK_BSP_LTEMM_ROWS 15

/** The texts of one row: model, USB id, data device, AT device. */
#define SDK_BSP_LTEMM_FIELDS 4

/**
 * The modem table: one row per known module, in the order of the module numbers (row 1 is module
 * 1); each row holds the model name, the USB "vendor:product" id as lsusb prints it ("2c7c:0125"),
 * the data (PPP) device handed to "uci" as written ("ttyUSB2" or "/dev/ttyUSB2") and the AT device
 * ("/dev/ttyUSB3").
 *
 * Rows 3 and 8 share the id "0001:0001": the first match wins, so row 8 is never selected. The
 * model names are for reference only. Read it; the library's detection reads it too.
 */
SDK_BSP_API extern const char *ltemm[SDK_BSP_LTEMM_ROWS][SDK_BSP_LTEMM_FIELDS];

/** The number of rows of ltemm: 15. */
SDK_BSP_API extern int ltemnum;

/**
 * Runs a command and reads its standard output once into buf.
 *
 * At most 1023 bytes are read and zero-terminated. The command runs as given: its caller owns it.
 *
 * @param command  the shell command; null runs nothing.
 * @param buf      receives the output; must hold 1024 bytes.
 * @return buf; an empty text ("") when the command could not be started, when the output contains
 *   "Entry" (the start of uci's message for a missing key), or when an argument is null.
 * @par Threads
 *   Any thread, on its own buffer.
 */
SDK_BSP_API char *cmdread(const char *command, char *buf) SDK_BSP_NOEXCEPT;

/**
 * Runs a command and copies the first 256 bytes of its standard output into dst.
 *
 * When the command cannot be started, "error:open cmderror:<system's error text>!\n" is printed
 * and it is tried again, six attempts in all. The command runs as given: its caller owns it.
 *
 * @param command  the shell command; null runs nothing.
 * @param dst      receives the output, zero-terminated; must hold 257 bytes. Null: the command
 *   only runs. Left alone when the output contains "Entry".
 * @return dst when the output was copied; when the output contains "Entry", a non-null pointer
 *   that is not dst (dst untouched); null when dst is null and there is no "Entry", or the command
 *   never started.
 * @par Output
 *   "error:open cmderror:<error>!\n" on standard output for each attempt that could not start.
 * @par Threads
 *   Any thread, on its own buffer.
 */
SDK_BSP_API char *uci_read(const char *command, char *dst) SDK_BSP_NOEXCEPT;

/**
 * As uci_read, with trailing blanks, carriage returns and line feeds stripped from the output.
 *
 * Used for every command whose output does not matter ("uci set", "uci commit", the driver
 * registration, "killall").
 *
 * @param command  the shell command; null runs nothing.
 * @param dst      receives the stripped output; must hold 257 bytes; null: the command only runs.
 * @return as uci_read.
 * @par Output
 *   As uci_read.
 * @par Threads
 *   Any thread, on its own buffer.
 */
SDK_BSP_API char *uciread(const char *command, char *dst) SDK_BSP_NOEXCEPT;

/**
 * Sleeps a number of seconds, resuming with the remainder when a signal cuts the sleep short (at
 * most 100 times).
 *
 * @param seconds  how long.
 * @par Threads
 *   Any thread; blocks it.
 */
SDK_BSP_API void mysleep(unsigned int seconds) SDK_BSP_NOEXCEPT;

/**
 * Finds the fitted module: the first row of ltemm whose USB id occurs in the first 256 characters
 * of the output of "lsusb".
 *
 * When the row differs from NTU.mode_id (always so at the first detection after the supervisor
 * starts): NTU.mode_id becomes the row, NTU.atdev its AT device, and "uci set
 * network.ppp0.device=<data device>" and "uci commit" run; for rows 5 and 10 to 15 also the
 * driver registration "echo \"0x<vendor> 0x<product>\"> /sys/bus/usb-serial/drivers/option1/new_id"
 * (e.g. "echo \"0x2c7c 0x0125\"> ..." for row 10). These run once per change of module. The same
 * row again only rewrites NTU.atdev. No row found: NTU stays as it was.
 *
 * @return 1 a known module is present; 0 none.
 * @par Threads
 *   The LTE supervisor's; a host calling it while the supervisor runs repeats its work.
 */
SDK_BSP_API int readusb(void) SDK_BSP_NOEXCEPT;

/**
 * Tells whether the serial devices of a USB module exist. Not called by the library.
 *
 * Returns 1 at once when NTU.usbstate is 1 or 2. Otherwise lists "ls /dev/ttyUSB*" (100 bytes of
 * its output).
 *
 * @return 1 the listing is not empty and holds no "No such file or directory"; else 0.
 * @par Output
 *   "ls ttyusb=<listing>\n" on standard output, when the listing runs.
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int readttyUSB(void) SDK_BSP_NOEXCEPT;

/**
 * Reads the IPv4 address of a network interface, from the kernel (SIOCGIFADDR), else from ifconfig.
 *
 * Up to three requests to the kernel; an interface the kernel does not know ("No such device")
 * and three failed requests fall back to read_ethip1. The address is written as dotted decimal.
 *
 * @param ifname  the interface, e.g. "ppp0" (at most 15 characters are used).
 * @param out     receives the address; 20 bytes (declared [static 20] in C, see SDK_BSP_SIZED);
 *                empty when there is none.
 * @return 1 an address was written; 0 otherwise (also for a null argument).
 * @par Output
 *   The address on standard output (puts) when it comes from ifconfig.
 * @par Threads
 *   Any thread. Written under the record's text lock, so out may be a text of NTU.
 */
SDK_BSP_API int read_ethip(const char *ifname, char out[SDK_BSP_SIZED(SDK_BSP_NTU_TEXT_SIZE)]) SDK_BSP_NOEXCEPT;

/**
 * Reads the IPv4 address of a network interface from the output of "ifconfig <ifname>".
 *
 * The output must hold 200 characters or more (an interface that does not exist prints only a
 * short error) and "inet addr:" followed by the address and a space; the address must be 8 to 19
 * characters long ("10.0.0.1" is taken, "1.2.3.4" is not). An interface name the shell would not
 * take literally as one word is refused, running nothing.
 *
 * @param ifname  the interface, e.g. "ppp0".
 * @param out     receives the address; 20 bytes (declared [static 20] in C, see SDK_BSP_SIZED);
 *                emptied when there is none.
 * @return 1 an address was written; -1 otherwise.
 * @par Output
 *   The address on standard output (puts).
 * @par Threads
 *   Any thread. Written under the record's text lock, so out may be a text of NTU.
 */
SDK_BSP_API int read_ethip1(const char *ifname, char out[SDK_BSP_SIZED(SDK_BSP_NTU_TEXT_SIZE)]) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup lte_supervisor LTE supervisor thread
 *  The supervisor's thread routine and its query cycle; what the supervisor does, and how it is
 *  started, is told with the cellular link among the host's API.
 *  @{ */

/**
 * The LTE supervisor thread's body; never returns.
 *
 * Logs "LTE_TEHED START!" (level 3), clears NTU (data_init), then runs the loop described in this
 * group, one pass a second.
 *
 * @param arg  not used.
 * @return never.
 * @par Threads
 *   A thread of its own; started by FSU_Lte_THREAD_START. Only one may run.
 */
SDK_BSP_API void *lte_main(void *arg) SDK_BSP_NOEXCEPT;

/**
 * One query cycle: "ATE0", "AT+CSQ", "AT^SYSINFO", then "AT+CIMI" while NTU.imsi holds fewer than 5
 * characters and "AT+CGSN" while NTU.imei does, on NTU.atdev.
 *
 * So the IMSI and the IMEI are read until known and then kept; signal and registration are
 * refreshed every cycle.
 *
 * @par Log
 *   At level 3: "LTE_TEHED sleepcount=1,Line=<n>;NTU.atdev=<atdev>" before the steps (n = 1709,
 *   1711, 1713, 1715, 1717, then 1720 before the IMSI for modules 2, 5, 6 and 9, 1725 for the
 *   others), "LTE_TEHED sleepcount=1,Line=1730" before the IMEI, and at the end
 *   "LTE_TEHED NTU数据打印=<imei>,<imsi>,<netstate>,<csq>,<mode_id>!"; and the queries' lines.
 * @par Threads
 *   The supervisor's; from another thread, the queries run one at a time with its own.
 */
SDK_BSP_API void readatdata(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup gps_parser GPS sentence parser
 *  The GPS/BeiDou receiver's NMEA 0183 sentences (port /dev/ttymxc7, 9600 baud) are gathered by the
 *  library's own read loop (ENV_COM_READ_THREAD) and parsed in batches of more than 1024 bytes.
 *  Kept from them:
 *
 *  | sentence        | kept                                                               |
 *  |-----------------|--------------------------------------------------------------------|
 *  | GGA (any talker) | position and height; ignored while its latitude field is empty    |
 *  | RMC (any talker) | position; ignored while its status is "V"                         |
 *  | GSA (GP, BD)    | satellites used: the identifier fields that are not empty          |
 *  | GSV (GP, BD)    | satellites in view, and each satellite's identifier and CN0 (dB-Hz) |
 *
 *  A sentence counts only when it ends with "*" and two upper-case hexadecimal digits equal to the
 *  exclusive-or of the characters between "$" and "*", followed by "\r\n". Positions are decimal
 *  degrees and never negative: the hemisphere letters are not used. Values stay until a later
 *  sentence of the same kind replaces them; a lost fix does not clear the position. The parser,
 *  the GPS API and a positioning-mode change exchange the record under one small lock, so a reader
 *  through the API never sees lat and lon half written.
 *
 *  Traces go to standard output only (never to the log), in UTF-8:
 *    - "______GPS 数据梳理---%d\r\n" with the byte count, every batch parsed;
 *    - "GPS_CMD_NUM :GPS_CMD_NUM=%d,/%d\r\n" with number and total, every GSV, then for each
 *      satellite block "Read_a_info 标识：%s\r\n" with its identifier;
 *    - "______清空GPS数据流_____", a batch discarded after a positioning-mode change.
 *  @{ */

/** Satellite slots per system: slot 4 x (GSV message number - 1) + the block's position in the
 *  message. Messages 1-9 of four satellites fill slots 0-35; a slot holding 0 is empty. */
#define SDK_BSP_GPS_SLOTS 81

/**
 * The fix record (1336 bytes), zero at load and after every positioning-mode change.
 *
 * The library updates it while the host runs; read it through the GPS API calls, which copy it
 * consistently (a direct read may see a sentence's values half stored).
 */
typedef struct {
    double lon;     /**< longitude, decimal degrees (GGA or RMC) */
    double lat;     /**< latitude, decimal degrees (GGA or RMC) */
    float high;     /**< GGA altitude plus geoid separation, metres */
    float gpslook;  /**< GPS satellites in view (last GPGSV) */
    float gpsnum;   /**< GPS satellites used (last GPGSA) */
    float bdlook;   /**< BeiDou satellites in view (last BDGSV) */
    float bdnum;    /**< BeiDou satellites used (last BDGSA) */
    int32_t gps_id[SDK_BSP_GPS_SLOTS];  /**< GPS satellite numbers, by slot; refilled every GSV cycle */
    int32_t gps_cn0[SDK_BSP_GPS_SLOTS]; /**< their CN0 in dB-Hz, same slots */
    int32_t bd_id[SDK_BSP_GPS_SLOTS];   /**< BeiDou satellite numbers, by slot */
    int32_t bd_cn0[SDK_BSP_GPS_SLOTS];  /**< their CN0 in dB-Hz */
    int32_t clear;  /**< 1: the next batch is discarded and the record zeroed (set on a mode change) */
} STR_GPS_INFO_T;

/** The fix record. */
SDK_BSP_API extern STR_GPS_INFO_T STR_GPS_INFO;

/**
 * Parses one batch of received bytes.
 *
 * Exactly count bytes from text are read (no terminator is needed; zero bytes inside, as CASIC
 * receivers send in their binary messages, do not stop the parse). A sentence cut off at the
 * batch's end is dropped. The first batch after a positioning-mode change is discarded instead:
 * the record is zeroed and the files /tmp/gps_* are deleted ("rm /tmp/gps_*").
 *
 * @param text   the batch.
 * @param count  its bytes.
 * @return -1, doing nothing, when count is 1024 or less (keep gathering) or text is null;
 *         otherwise 0: the batch has been worked through (keep nothing of it).
 * @par Threads
 *   Any thread; the GPS read loop is its caller. The record is updated under its lock.
 */
SDK_BSP_API int BSP_GPS_READ(const char *text, int count) SDK_BSP_NOEXCEPT;

/**
 * Rebuilds the satellite-signal text from the record and returns it.
 *
 * The text lists the filled slots in slot order, each value followed by ";":
 * "GPS,卫星标识=IDS,CN0=CN0S\r\n,BD,卫星标识=IDS,CN0=CN0S", e.g.
 * "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;". Sets the flag of Read_GPS_dB_Flag.
 *
 * @return the text, in a library buffer of SDK_BSP_GPS_DB_TEXT_SIZE bytes, zero-terminated.
 * @par Threads
 *   Any thread; the buffer is shared, and the parser rebuilds it after every complete GSV cycle:
 *   copy the text at once, or use GET_GPS_dB_INFO.
 */
SDK_BSP_API char *SET_GPS_BD_dB(void) SDK_BSP_NOEXCEPT;

/**
 * Tells whether the satellite-signal text has been built since the last call, and clears that
 * flag (the parser builds it when a GSV cycle completes; SET_GPS_BD_dB too).
 *
 * @return 1 when it has, else 0.
 * @par Threads
 *   Any thread; the flag is taken with an atomic exchange.
 */
SDK_BSP_API int Read_GPS_dB_Flag(void) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup gps_mode GPS positioning-mode steps
 *  The steps of the positioning mode: applying the stored mode, the two setters beneath the host's,
 *  the effective mode, the first-start default and the receiver's write. What the mode means is told
 *  with the GPS API among the host's.
 *  @{ */

/**
 * Applies the stored mode.
 *
 * Reads both keys, sets the effective mode (pcas, or pcas_sdk when that is not 0), commands the
 * receiver, waits, and resets the fix record. InitializeSDK calls it as its last step.
 *
 * @return the status of the command deleting /tmp/gps_*, as system() reports it (0 when files
 *         were deleted, non-zero when there were none; -1 when it could not be run).
 * @par Log
 *   "sdk gps_pcas=%d" with pcas_sdk, then "gps_pcas=%d,PositionMode=%d" with pcas_sdk and the mode,
 *   both at level 5; GPS_COM_WRITE's line for each sentence sent.
 * @par Threads
 *   Any thread; blocks it for 2-3 s; mode calls are served one after the other.
 */
SDK_BSP_API int GPS_MODE_UPDATE(void) SDK_BSP_NOEXCEPT;

/**
 * The SDK-side setter.
 *
 * A non-zero mode becomes the effective mode; when pcas differs from it, both keys are set to it
 * and committed (when pcas already holds it nothing is written, even if pcas_sdk differs); then
 * the stored mode is applied (GPS_MODE_UPDATE). Mode 0 switches positioning off: both keys become
 * 99999 (unless pcas_sdk already is), the effective mode 99999; the receiver and the fix record
 * are left alone.
 *
 * @param mode  the mode; 0 for off.
 * @return GPS_MODE_UPDATE's result; 0 for mode 0.
 * @par Log
 *   At level 5: "gps_pcas sdkk=%d" with pcas, "gps_pcas set :%s" with the last set command when the
 *   keys are written, then GPS_MODE_UPDATE's lines; for mode 0 "gps_pcas sdk=%d" with 99999.
 * @par Threads
 *   Any thread; blocks it for 2-3 s (not for mode 0); mode calls are served one after the other.
 */
SDK_BSP_API int SDK_GPS_SET_PCAS(uint32_t mode) SDK_BSP_NOEXCEPT;

/**
 * The web-side setter: when pcas differs from mode, both keys are set to it and committed; then
 * the stored mode is applied.
 *
 * A mode 0 is stored as 0: it commands GPS and BeiDou while Read_PositionMode reports 0.
 *
 * @param mode  the mode.
 * @return GPS_MODE_UPDATE's result.
 * @par Log
 *   At level 5: "gps_pcas web=%d" with pcas, "gps_pcas set :%s" with the last set command when the
 *   keys are written, then GPS_MODE_UPDATE's lines.
 * @par Threads
 *   Any thread; blocks it for 2-3 s; mode calls are served one after the other.
 */
SDK_BSP_API int GPS_SET_PCAS(uint32_t mode) SDK_BSP_NOEXCEPT;

/**
 * The effective mode.
 *
 * @return 0 before the first GPS_MODE_UPDATE and while positioning is off (99999), else the mode
 *         number (1 GPS, 2 BeiDou, others GPS and BeiDou).
 * @par Threads
 *   Any thread.
 */
SDK_BSP_API int Read_PositionMode(void) SDK_BSP_NOEXCEPT;

/**
 * The first-start default: stores mode 2 in vqm.sys.pcas once per box.
 *
 * Returns 1 when the marker file /etc/bd_gps_default exists. Otherwise creates it
 * ("echo 1 >/etc/bd_gps_default") and runs "uci set vqm.sys.pcas=2;uci commit". Not called by the
 * library itself.
 *
 * @return 1 when the marker exists; otherwise the status of the uci command, as system() reports
 *         it.
 * @par Threads
 *   Any thread; served one after the other with the mode calls.
 */
SDK_BSP_API int GPS_DEFAULT_SET(void) SDK_BSP_NOEXCEPT;

/**
 * Writes bytes to the receiver's port (index 6) through SDK_BSP_ComWrite.
 *
 * Before an error return the port layer's error line for FUNCTION:GPS_COM_WRITE is printed.
 *
 * @param data     the bytes; may be null when len is 0.
 * @param len      their number, not negative.
 * @param written  receives the count written (0 on failure); may be null.
 * @return BSP_COM_OK; BSP_COM_ERR_DEVICE when the port is not open; BSP_COM_ERR_IO when the write
 *         fails; BSP_COM_ERR_PARAM for a negative len or null data.
 * @par Log
 *   "%d=GPS_COM_WRITE(%d,%s,%d)\r\n" at level 5 with the count written (-1 on failure), the
 *   descriptor, the text and len.
 * @par Threads
 *   Any thread; writes are serialised by the port's write lock.
 */
SDK_BSP_API uint32_t GPS_COM_WRITE(const char *data, int len, uint32_t *written) SDK_BSP_NOEXCEPT;

/** @} */

/** @defgroup uci Configuration reader
 *  Reads options of the box's UCI configuration files (/etc/config/PACKAGE) without starting the
 *  uci tool. A query is written as the uci command line would be:
 *  "uci get PACKAGE.SECTION.OPTION", e.g. "uci get vqm.sys.pcas". The package name runs to the
 *  first '.', the section to the next one, the option is the rest. Package names hold at most 49
 *  characters, section and option names at most 47; a longer or empty name, a query with fewer
 *  than two dots or one not starting with "uci get " finds nothing.
 *
 *  The answer comes from a plain text search of the file as `uci commit` writes it, not from a UCI
 *  parser:
 *    - the section must be a named section, its name in single quotes (config serial 'rs485');
 *      anonymous sections (`@type[n]`, cfgNNNNNN) are not found. The first occurrence of the quoted
 *      name anywhere in the file starts the search, also one inside an earlier option's value;
 *    - the option is the first one after that point written with a blank on each side of its name
 *      (option baud '9600'), also when that text lies inside another value of the section; when a
 *      section header ("config") comes first, the option belongs to a later section: not found;
 *    - the value is the text between the single quotes that follow the name: a list ("list")
 *      gives its first item, and a quote escaped with a backslash ends the value. An unquoted
 *      value, or one whose closing quote is missing, is not found.
 *
 *  A value of more than 99 characters is cut to its first 99. A package file that is not a regular
 *  file or is larger than 1 MiB counts as unreadable. None of these calls writes to the SDK log.
 *  The memory copies of sdkuci_get_ram are loaded, dropped and searched under the reader's own
 *  lock, so no call (the positioning-mode calls, which drop them, included) frees a copy under
 *  another thread's search. The results live in buffers of the library, one per function, shared
 *  by all its callers and overwritten by its next call: copy the value out at once, and serialise
 *  calls of one function that other threads make too.
 *  @{ */

/**
 * Looks an option up in the memory copies of the packages "Device", "vqm", "EnvironmentPar",
 * "monitor", "network" and "ks" (other packages find nothing).
 *
 * The first call loads the six files in that order; a file that cannot be read leaves it and the
 * packages after it without a copy. Later changes to the files are not seen until sdkuci_free
 * drops the copies.
 *
 * @param query  "uci get PACKAGE.SECTION.OPTION".
 * @return the value in a 100-byte buffer of the library, or an empty string when nothing was
 *         found; never null.
 * @par Threads
 *   Any thread; the copies are loaded and searched under the reader's lock; the result buffer is
 *   shared by all callers of this function.
 */
SDK_BSP_API char *sdkuci_get_ram(const char *query) SDK_BSP_NOEXCEPT;

/**
 * Looks an option up in /etc/config/PACKAGE read afresh, any package.
 *
 * @param query  "uci get PACKAGE.SECTION.OPTION".
 * @return the value in a 100-byte buffer of its own, or an empty string when nothing was found or
 *         the file cannot be read; never null.
 * @par Threads
 *   Any thread; the result buffer is shared by all callers of this function.
 */
SDK_BSP_API char *sdkuci_get_flash(const char *query) SDK_BSP_NOEXCEPT;

/**
 * Drops the copies of sdkuci_get_ram (if loaded); its next call loads the files again.
 *
 * @par Threads
 *   Any thread; the copies are freed under the reader's lock, never under a search.
 */
SDK_BSP_API void sdkuci_free(void) SDK_BSP_NOEXCEPT;

/**
 * Lists the names in a directory, "." and ".." included, in the order the file system gives them,
 * each followed by "\n".
 *
 * Names that would not fit the 10000-byte buffer are left out from the first one that does not.
 *
 * @param path  the directory.
 * @return the listing, in a 10000-byte buffer of the library; null, after printing
 *         "can't open %s\n" with the path on standard output, when the directory cannot be opened
 *         (and null, with nothing printed, for a null path).
 * @par Threads
 *   Any thread; the result buffer is shared by all callers of this function.
 */
SDK_BSP_API char *sdkls(const char *path) SDK_BSP_NOEXCEPT;

/** @} */

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* SDK_BSP_H */

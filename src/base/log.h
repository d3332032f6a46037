// The SDK log as the library itself writes it: one record per call, to standard output and/or
// /tmp/sdklog.log, archived to /tmp/sdklog.zip when the file passes 2 MiB. Every room logs through
// log_write; the exported log calls are forwarders to these.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace bsp::base {

// Log levels, by the role the library gives them.
enum LogLevel : int {
    kLogError = 2,  // errors
    kLogNet = 3,    // the cellular modem
    kLogSo = 4,     // the Uart API and board-link frame traces
    kLogSys = 5,    // other API calls and system events
    kLogDebug = 8,  // per-call value traces
};

// Any lock may be held while logging: the log takes no other lock than its own (the lock order of
// the whole library is in the README's Layout).

constexpr const char* kLogFile = "/tmp/sdklog.log";
constexpr const char* kLogArchive = "/tmp/sdklog.zip";
constexpr int kLogFileLimit = 2097152;    // bytes; a larger log is archived by the next record
constexpr int kLogRecordBuffer = 102400;  // one record, terminator included
constexpr int kLogRecordMax = 102398;     // characters of a record after the cut
constexpr int kLogCommandBuffer = 100;    // each rotation command
constexpr int kLogHeaderMax = 64;         // room for a record's header

// Writes one record at a level: 1 when it was output, else 0 (the record number is taken even so).
int log_write(int level, const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
int log_vwrite(int level, const char* format, std::va_list ap) noexcept;

// Every level to the file and standard output, the modem's level to the file only.
void log_defaults() noexcept;
// Every level off.
void log_off() noexcept;
// Appends text to the file at path (created when missing): 1, or -1 when it cannot be opened, -2
// when the end cannot be found.
int append_record(const char* path, const char* text) noexcept;

// The size of the file in bytes, or -1 when it cannot be examined.
int file_size(const char* path) noexcept;
// Archives the log when it has grown past its limit.
void rotate_if_full() noexcept;
// Writes the record header for the level into buffer (room for kLogHeaderMax bytes) after
// advancing the record counter; returns the level's mode word, or 0 without writing anything when
// the buffer is absent.
int write_header(int level, char* buffer) noexcept;
// The number of the last record begun.
std::int32_t log_record_count() noexcept;

}  // namespace bsp::base

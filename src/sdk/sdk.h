// What the SDK frame's files share: the log's private routines and the resource table.
#pragma once

#include <cstdint>

#include "sdk_bsp.h"

namespace bsp::sdk {

// Log levels, by the role the library gives them.
enum LogLevel : int {
    kLogError = 2,  // errors
    kLogNet = 3,    // the cellular modem
    kLogSo = 4,     // the Uart API and board-link frame traces
    kLogSys = 5,    // other API calls and system events
    kLogDebug = 8,  // per-call value traces
};

// Lock order, for the whole library: a receive buffer's mutex or a port's write lock may be held
// while logging; the log takes no other lock than its own, so it can never close a cycle. No
// thread holds two receive-buffer or write locks at once.

constexpr const char* kLogFile = "/tmp/sdklog.log";
constexpr const char* kLogArchive = "/tmp/sdklog.zip";
constexpr int kLogFileLimit = 2097152;    // bytes; a larger log is archived by the next record
constexpr int kLogRecordBuffer = 102400;  // one record, terminator included
constexpr int kLogRecordMax = 102398;     // characters of a record after the cut
constexpr int kLogCommandBuffer = 100;    // each rotation command

// The size of the file in bytes, or -1 when it cannot be examined.
int getfilesize(const char* path) noexcept;
// Archives the log when it has grown past its limit.
void LOG_FILE_CHECK() noexcept;
// Writes the record header for the level into buffer (room for kLogHeaderMax bytes) after
// advancing the record counter; returns the level's mode word, or 0 without writing anything when
// the buffer is absent.
constexpr int kLogHeaderMax = 64;
int SDK_UPDATE_LOG_HEADER(int level, char* buffer) noexcept;
// The number of the last record begun.
std::int32_t log_record_count() noexcept;

// One row of the resource table.
struct Resource {
    std::int32_t id;
    const char* name;
};
constexpr int kResourceRows = 110;
const Resource* resources() noexcept;

}  // namespace bsp::sdk

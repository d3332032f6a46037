// The top of the SDK frame: start-up, device information and maintenance, whose exported calls
// are forwarders to these. The log and the resource names have headers of their own (base/log.h,
// base/resources.h), which every room may use.
#pragma once

namespace bsp::sdk {

// ---- start-up ----

// Brings the whole box up once per process: 0, or -1 doing nothing on every later call.
int initialize() noexcept;
// Logs that the host is done; returns 0.
int uninitialize() noexcept;
// Clears the board presence flags, once per process.
void start_system() noexcept;

// ---- device information and maintenance ----

int version_text(char* buffer, int length) noexcept;
int hardware_information(char* buffer) noexcept;
int update(const char* path) noexcept;
int set_rtc(const char* time) noexcept;
int set_ftp(const char* user, const char* password, const char* path) noexcept;
int del_ftp(const char* user) noexcept;
// 1 when the (rooted) path exists, else 0.
int file_exists(const char* path) noexcept;
// A read-only descriptor of the (rooted) path, close-on-exec; -1 when it cannot be opened.
int open_read_only(const char* path) noexcept;
// Up to size bytes of the file into buffer: the count read, 0 when there is nothing to read, -1
// when the file cannot be opened.
int read_data_file(const char* path, char* buffer, int size) noexcept;
// The first word of a command's standard output into buffer (size bytes, cleared first).
char* read_command_output(const char* command, char* buffer, int size) noexcept;

}  // namespace bsp::sdk

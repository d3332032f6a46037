// Device information and maintenance: the version and hardware texts, the library update, the
// clock, the FTP accounts and the small file helpers they use. These are the only calls that hand
// caller text to a shell: each such text must be one the shell takes literally, or the call runs
// nothing, logs why and fails.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "base/log.h"
#include "base/texts.h"
#include "io/io.h"
#include "os/os.h"
#include "sdk/sdk.h"
#include "sdk_bsp.h"

namespace bsp::sdk {
namespace {

using base::file_size;
using base::kLogDebug;
using base::kLogError;
using base::kLogSys;
using base::log_write;

constexpr const char* kVendor = "VQ";
constexpr const char* kVersionNumber = SDK_BSP_VERSION_STRING;  // the project's version, "1.1.0"
constexpr std::size_t kVersionSize = 9;                         // "VQ-1.1.0" and its terminator
static_assert(sizeof SDK_BSP_VERSION_STRING == kVersionSize - 3, "the reported version is 8 characters");

// Product model and production date, as UTF-8 JSON; 70 bytes with the terminator.
constexpr char kHardwareInformation[] =
    "{\"\u4ea7\u54c1\u578b\u53f7\":\"VQM-KP-2000A1\",\"\u751f\u4ea7\u65e5\u671f\":\"2022-07-01 08:30:00\"}";
static_assert(sizeof kHardwareInformation == 70);

// The update: the caller's package is moved into the work directory, unpacked there (its members
// are tmp/sdk/file.md5 and tmp/sdk/libsdk_bsp.so, unpacked relative to the host's working
// directory, which is the box's root), checked against its reference hash and installed.
constexpr const char* kPackageName = "/CAIRN_KIT_SDK.tar.gz";
constexpr const char* kWorkDir = "/tmp/sdk";
constexpr const char* kPackage = "/tmp/sdk/CAIRN_KIT_SDK.tar.gz";
constexpr const char* kArchive = "/tmp/sdk/CAIRN_KIT_SDK.tar";
constexpr const char* kReference = "/tmp/sdk/file.md5";
constexpr const char* kNewLibrary = "/tmp/sdk/libsdk_bsp.so";
constexpr const char* kInstalled = "/lib/libsdk_bsp.so";
constexpr int kHashLength = 32;  // an MD5 in hexadecimal
constexpr int kCheckBuffer = 50;

constexpr std::size_t kCommandBuffer = 512;  // the update's and the FTP commands, as the box builds them
constexpr std::size_t kDateBuffer = 40;
// "date -s '" + text + "'" must fit the date command's 40 bytes with the terminator: the text is
// cut to 29 characters, so the closing quote is never the part cut away.
constexpr int kClockTextMax = 29;

// Why a call refuses caller text (logged at level 2 as texts::kRefused).
constexpr const char* kAbsent = "absent";
constexpr const char* kNotLiteral = "the shell would not take it literally";
constexpr const char* kTooLong = "too long for its command";

const char* shown(const char* text) noexcept { return text ? text : "(null)"; }

int refuse(const char* call, const char* argument, const char* why) noexcept {
    log_write(kLogError, texts::kRefused, call, argument, why);
    return -1;
}

// One caller text that goes into a command.
struct Argument {
    const char* name;
    const char* text;
    os::Quoting quoting;
};

// Logs the first argument that may not reach the shell; false when there is one.
bool all_literal(const char* call, std::span<const Argument> args) noexcept {
    for (const Argument& a : args) {
        const char* why = !a.text ? kAbsent : !os::shell_literal(a.text, a.quoting) ? kNotLiteral : nullptr;
        if (why) {
            refuse(call, a.name, why);
            return false;
        }
    }
    return true;
}

// Runs a command that names box paths only (they fit their buffer whatever the root).
template <typename... P>
void run_on_paths(const char* format, P... paths) noexcept {
    os::Command cmd;
    if (cmd.format(kCommandBuffer, format, os::Path(paths)...)) os::run(cmd.c_str());
}

// Installs the unpacked library when its hash matches the package's reference: 0 installed or
// skipped on a mismatch, -1 when the reference or the hash cannot be had.
int check_and_install() noexcept {
    std::array<char, kHashLength> reference{};
    if (read_data_file(kReference, reference.data(), kHashLength) != kHashLength) return -1;
    std::array<char, kCheckBuffer> hash{};
    os::Command check;
    if (check.format(kCommandBuffer, "md5sum %s", os::Path(kNewLibrary)))
        read_command_output(check.c_str(), hash.data(), kCheckBuffer);
    if (hash[0] == '\0') return -1;
    if (std::string_view(hash.data()) != std::string_view(reference.data(), reference.size())) return 0;
    run_on_paths("cp %s %s", kNewLibrary, kInstalled);
    return 0;
}

}  // namespace

int version_text(char* buffer, int length) noexcept {
    if (!buffer) return 0;
    if (length > 0) std::memset(buffer, 0, static_cast<std::size_t>(length));
    std::snprintf(buffer, kVersionSize, "%s-%s", kVendor, kVersionNumber);
    log_write(kLogSys, texts::kVersion, buffer);
    return 0;
}

// Whatever length the caller gives: the text and its terminator, 70 bytes.
int hardware_information(char* buffer) noexcept {
    if (!buffer) return 0;
    std::memcpy(buffer, kHardwareInformation, sizeof kHardwareInformation);
    log_write(kLogSys, texts::kHardwareInformation, buffer);
    return 0;
}

int update(const char* path) noexcept {
    log_write(kLogSys, texts::kUpdate, shown(path));
    if (!path || !std::strstr(path, kPackageName)) return 0;
    const Argument args[] = {{"path", path, os::Quoting::kBare}};
    if (!all_literal(texts::kUpdateSdkName, args)) return -1;
    os::Command move;
    if (!move.format(kCommandBuffer, "mv %s %s", os::Path(path), os::Path(kPackage)))
        return refuse(texts::kUpdateSdkName, "path", kTooLong);
    // An archive left by an earlier update stays: gunzip does not overwrite it.
    run_on_paths("mkdir %s", kWorkDir);
    os::run(move.c_str());
    run_on_paths("gunzip %s", kPackage);
    run_on_paths("tar -xf %s", kArchive);
    return check_and_install();
}

int set_rtc(const char* time) noexcept {
    if (!time) return -1;
    std::array<char, kClockTextMax + 1> text{};
    std::snprintf(text.data(), text.size(), "%.*s", kClockTextMax, time);
    const Argument args[] = {{"time", text.data(), os::Quoting::kQuoted}};
    if (!all_literal(texts::kSetRtcName, args)) return -1;
    os::Command date;
    date.format(kDateBuffer, "date -s '%s'", text.data());  // always fits: the text is cut
    os::run(date.c_str());
    io::feed_soft_dog();  // the countdown restarts on the new clock
    os::run("hwclock -w");
    io::feed_soft_dog();
    log_write(kLogSys, texts::kSetRtc, time, date.c_str());
    return 0;
}

int set_ftp(const char* user, const char* password, const char* path) noexcept {
    log_write(kLogDebug, texts::kSetFtp, texts::kSetFtpName, shown(user), shown(password), shown(path));
    if (!path) return -1;
    const Argument args[] = {{"user", user, os::Quoting::kBare},
                             {"password", password, os::Quoting::kBare},
                             {"path", path, os::Quoting::kBare}};
    if (!all_literal(texts::kSetFtpName, args)) return -1;
    const os::Path home(path);
    os::Command mkdir, add;
    if (!mkdir.format(kCommandBuffer, "mkdir %s", home) ||
        !add.format(kCommandBuffer, "user.sh add %s %s %s", user, password, home))
        return refuse(texts::kSetFtpName, "arguments", kTooLong);
    if (!file_exists(path)) os::run(mkdir.c_str());
    os::run(add.c_str());
    return 0;
}

int del_ftp(const char* user) noexcept {
    log_write(kLogDebug, texts::kDelFtp, texts::kDelFtpName, shown(user));
    const Argument args[] = {{"user", user, os::Quoting::kBare}};
    if (!all_literal(texts::kDelFtpName, args)) return -1;
    os::Command del;
    if (!del.format(kCommandBuffer, "user.sh del %s", user)) return refuse(texts::kDelFtpName, "user", kTooLong);
    os::run(del.c_str());
    return -1;  // the box's result, whatever the script did
}

int file_exists(const char* path) noexcept { return os::exists(path) ? 1 : 0; }

int open_read_only(const char* path) noexcept { return os::open(path, O_RDONLY | O_CLOEXEC); }

int read_data_file(const char* path, char* buffer, int size) noexcept {
    if (!file_exists(path) || !buffer || size <= 0) return 0;
    const int bytes = file_size(path);
    os::Fd fd(os::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0700));
    if (!fd) return -1;
    const auto want = static_cast<std::size_t>(std::clamp(bytes, 0, size));
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd.get(), buffer + got, want - got);
        if (n < 0) return 0;
        if (n == 0) break;  // the file shrank since its size was taken
        got += static_cast<std::size_t>(n);
    }
    return static_cast<int>(got);
}

char* read_command_output(const char* command, char* buffer, int size) noexcept {
    if (!buffer || size <= 0) return buffer;
    const auto n = static_cast<std::size_t>(size);
    std::memset(buffer, 0, n);
    // One byte short of the buffer: an output that fills it still ends in a terminator (its first
    // word then cut to size - 1 characters).
    if (command) os::read_output(command, buffer, n);
    if (std::strstr(buffer, "Entry") || std::strstr(buffer, "can't")) {
        buffer[0] = '\0';
        return buffer;
    }
    std::replace_if(buffer, buffer + n, [](char c) { return c == ' ' || c == '\r' || c == '\n'; }, '\0');
    return buffer;
}

}  // namespace bsp::sdk

// sdk-shell: device information and maintenance.
//
//   ReadSDKVersion buf:16 16                  ReadHardwareInformation buf:70 70
//   UpdateSDK "/mnt/CAIRN_KIT_SDK.tar.gz"     SetRtc "2024-07-01 08:30:00"
//   SetFtp "ftpuser" "secret" "/srv/ftp"      DelFtp "ftpuser"
//   Read_Data_File "/tmp/sdk/file.md5" buf:33 32
//   ReadsyscmdReturn "md5sum /lib/libsdk_bsp.so" buf:50 50
//
// UpdateSDK unpacks relative to the working directory: start the shell at the box's root.
#include <unistd.h>

#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

// -999 (the call is not made) when the buf:N argument k is smaller than the call will write.
bool too_small(const Call& c, std::size_t k, long long need) {
    auto* buf = std::get_if<OutBuffer>(&c.args()[k]);
    return buf && static_cast<long long>(buf->bytes.size()) < need;
}

const Registration maintenance_calls{
    {"ReadSDKVersion", {"bi", [](const Call& c) -> Result {
         if (too_small(c, 0, SDK_BSP_VERSION_TEXT_SIZE) || too_small(c, 0, c.i(1))) return -999;
         return ReadSDKVersion(c.b(0), c.i(1));
     }}},
    {"ReadHardwareInformation", {"bi", [](const Call& c) -> Result {
         if (too_small(c, 0, SDK_BSP_HARDWARE_INFO_SIZE)) return -999;
         return ReadHardwareInformation(c.b(0), c.i(1));
     }}},
    {"UpdateSDK", {"s", [](const Call& c) -> Result { return UpdateSDK(c.s(0)); }}},
    {"SetRtc", {"s", [](const Call& c) -> Result { return SetRtc(c.s(0)); }}},
    {"SetFtp", {"sss", [](const Call& c) -> Result { return SetFtp(c.s(0), c.s(1), c.s(2)); }}},
    {"DelFtp", {"s", [](const Call& c) -> Result { return DelFtp(c.s(0)); }}},
    {"GetSupportedExtendType",
     {"bi", [](const Call& c) -> Result { return GetSupportedExtendType(c.b(0), c.i(1)); }}},
    {"AddExtend", {"ss", [](const Call& c) -> Result { return AddExtend(c.s(0), c.s(1)); }}},
    {"IsFileExist", {"s", [](const Call& c) -> Result { return IsFileExist(c.s(0)); }}},
    {"FSU_get_file_size", {"s", [](const Call& c) -> Result { return FSU_get_file_size(c.s(0)); }}},
    // The descriptor is reported and closed: the shell has no use for it.
    {"FSU_get_fd", {"s", [](const Call& c) -> Result {
         int fd = FSU_get_fd(c.s(0));
         if (fd >= 0) close(fd);
         return fd;
     }}},
    {"Read_Data_File", {"sbi", [](const Call& c) -> Result {
         if (too_small(c, 1, c.i(2))) return -999;
         return Read_Data_File(c.s(0), c.b(1), c.i(2));
     }}},
    {"ReadsyscmdReturn", {"sbi", [](const Call& c) -> Result {
         if (too_small(c, 1, c.i(2))) return -999;
         return returns_text(c, ReadsyscmdReturn(c.s(0), c.b(1), c.i(2)));
     }}},
};

}  // namespace
}  // namespace shell

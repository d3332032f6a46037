// The exported names of the SDK frame: start-up, the log, resource names and counts, device
// information and maintenance; the log's and the resources' records.
#include <cstdarg>
#include <cstddef>
#include <ctime>

#include <sys/types.h>

#include "base/log.h"
#include "base/resources.h"
#include "sdk/sdk.h"
#include "sdk_bsp.h"

// Every build, the box's 32-bit one included, has large files and a clock past 2038.
static_assert(sizeof(off_t) == 8 && sizeof(std::time_t) == 8);

SDK_BSP_API STR_LOG_PAR_T STR_LOG_PAR{};
static_assert(sizeof(STR_LOG_PAR_T) == 32);
static_assert(offsetof(STR_LOG_PAR_T, net) == 8 && offsetof(STR_LOG_PAR_T, sys) == 20 &&
              offsetof(STR_LOG_PAR_T, debug) == 28);

SDK_BSP_API BSP_BOARD_HARDWARE_RESOURCES_T BSP_BOARD_HARDWARE_RESOURCES{};
static_assert(sizeof(BSP_BOARD_HARDWARE_RESOURCES_T) == 16);
static_assert(offsetof(BSP_BOARD_HARDWARE_RESOURCES_T, EXT_COM) == 4 &&
              offsetof(BSP_BOARD_HARDWARE_RESOURCES_T, EXT_ENV) == 12);

SDK_BSP_API STR_SYSTEM_RESOURCES_NUM_T STR_SYSTEM_RESOURCES_NUM{};
static_assert(sizeof(STR_SYSTEM_RESOURCES_NUM_T) == 24);
static_assert(offsetof(STR_SYSTEM_RESOURCES_NUM_T, AI) == 8 && offsetof(STR_SYSTEM_RESOURCES_NUM_T, DO) == 16 &&
              offsetof(STR_SYSTEM_RESOURCES_NUM_T, AO) == 20);

namespace base = bsp::base;
namespace sdk = bsp::sdk;
using Board = BSP_BOARD_HARDWARE_RESOURCES_T;
using Counts = STR_SYSTEM_RESOURCES_NUM_T;

extern "C" {

// ---- start-up ----

SDK_BSP_API int InitializeSDK(void) noexcept { return sdk::initialize(); }
SDK_BSP_API int UninitializeSDK(void) noexcept { return sdk::uninitialize(); }
SDK_BSP_API void SYSTEM_INIT(void) noexcept { sdk::start_system(); }
SDK_BSP_API void BOARD_HARDWARE_RESOURCES_INIT(void) noexcept { base::clear_presence(); }

// ---- log ----

SDK_BSP_API int SDK_LOG_WRITE(int level, const char* format, ...) noexcept {
    va_list ap;
    va_start(ap, format);
    int result = base::log_vwrite(level, format, ap);
    va_end(ap);
    return result;
}
SDK_BSP_API void SDK_LOG_PAR_INIT(void) noexcept { base::log_defaults(); }
SDK_BSP_API void SDK_LOG_PAR_INIT_NOPRINTF(void) noexcept { base::log_off(); }
SDK_BSP_API int SDK_LOG_SAVE_FILE(const char* path, char* text) noexcept { return base::append_record(path, text); }

// ---- resource names and counts ----

SDK_BSP_API int READ_resourceName(const char* name) noexcept { return base::resource_id(name); }
SDK_BSP_API void PAR_SET_M_COM_EXIST_STATUS(int value) noexcept { base::set_presence(&Board::M_COM, value); }
SDK_BSP_API void PAR_SET_EXT_COM_EXIST_STATUS(int value) noexcept { base::set_presence(&Board::EXT_COM, value); }
SDK_BSP_API void PAR_SET_M_ENV_EXIST_STATUS(int value) noexcept { base::set_presence(&Board::M_ENV, value); }
SDK_BSP_API void PAR_SET_EXT_ENV_EXIST_STATUS(int value) noexcept { base::set_presence(&Board::EXT_ENV, value); }
SDK_BSP_API void BSP_Resource_CHECK(void) noexcept { base::count_resources(); }
SDK_BSP_API int sdk_read_com_num(void) noexcept { return base::resource_count(&Counts::COM); }
SDK_BSP_API int sdk_read_ai_num(void) noexcept { return base::resource_count(&Counts::AI); }
SDK_BSP_API int sdk_read_di_num(void) noexcept { return base::resource_count(&Counts::DI); }
SDK_BSP_API int sdk_read_do_num(void) noexcept { return base::resource_count(&Counts::DO); }
SDK_BSP_API int ReadFSUResource(char* buffer, int length) noexcept { return base::resource_list(buffer, length); }
SDK_BSP_API int ReadResourceAlias(const char* name, char* alias, int /*length: not examined*/) noexcept {
    return base::resource_alias(name, alias);
}
// Every resource reads as state 0.
SDK_BSP_API int GetResourceState(const char* /*name*/, int* state) noexcept {
    if (state) *state = 0;
    return 0;
}

// ---- device information and maintenance ----

SDK_BSP_API int ReadSDKVersion(char* buffer, int length) noexcept { return sdk::version_text(buffer, length); }
SDK_BSP_API int ReadHardwareInformation(char* buffer, int /*length: not examined*/) noexcept {
    return sdk::hardware_information(buffer);
}
SDK_BSP_API int UpdateSDK(const char* path) noexcept { return sdk::update(path); }
SDK_BSP_API int SetRtc(const char* time) noexcept { return sdk::set_rtc(time); }
SDK_BSP_API int SetFtp(const char* user, const char* password, const char* path) noexcept {
    return sdk::set_ftp(user, password, path);
}
SDK_BSP_API int DelFtp(const char* user) noexcept { return sdk::del_ftp(user); }
// The box supports no extension: its fixed answers.
SDK_BSP_API int GetSupportedExtendType(char* /*types*/, int /*length*/) noexcept { return -2; }
SDK_BSP_API int AddExtend(const char* /*type*/, const char* /*parameters*/) noexcept { return -1; }
SDK_BSP_API int IsFileExist(const char* path) noexcept { return sdk::file_exists(path); }
SDK_BSP_API int FSU_get_file_size(const char* path) noexcept { return base::file_size(path); }
SDK_BSP_API int FSU_get_fd(const char* path) noexcept { return sdk::open_read_only(path); }
SDK_BSP_API int Read_Data_File(const char* path, char* buffer, int size) noexcept {
    return sdk::read_data_file(path, buffer, size);
}
SDK_BSP_API char* ReadsyscmdReturn(const char* command, char* buffer, int size) noexcept {
    return sdk::read_command_output(command, buffer, size);
}

}  // extern "C"

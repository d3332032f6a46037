// The exported names of the serial transport: the port objects, the board link and its keep-alive,
// the receive threads and buffers, the environment link, the Uart API and the power-protocol codec;
// the environment record.
#include <cstddef>
#include <cstdint>

#include "com/board_link.h"
#include "com/env_link.h"
#include "com/ports.h"
#include "com/power_codec.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "com/uart_api.h"
#include "gps/gps.h"
#include "sdk_bsp.h"

SDK_BSP_API STR_BSP_ENV_INFO_T STR_BSP_ENV_INFO{};
static_assert(sizeof(STR_BSP_ENV_INFO_T) == 268 && offsetof(STR_BSP_ENV_INFO_T, ai_kind0) == 64 &&
              offsetof(STR_BSP_ENV_INFO_T, ai_other) == 128 && offsetof(STR_BSP_ENV_INFO_T, di) == 192 &&
              offsetof(STR_BSP_ENV_INFO_T, do_state) == 208 && offsetof(STR_BSP_ENV_INFO_T, do_request) == 252 &&
              offsetof(STR_BSP_ENV_INFO_T, do_value) == 260);
static_assert(sizeof(ComParams) == 24 && offsetof(ComParams, nBaudrate) == 8 && offsetof(ComParams, nParity) == 20);
static_assert(sizeof(ComCapability) == 28 && offsetof(ComCapability, nMinBaudrate) == 8 &&
              offsetof(ComCapability, nMaxBaudrate) == 12);
static_assert(sizeof(STR_POWER_CMD) == 268);
static_assert(offsetof(STR_POWER_CMD, VER) == 1 && offsetof(STR_POWER_CMD, CID2) == 4 &&
              offsetof(STR_POWER_CMD, INFO_LEN) == 8 && offsetof(STR_POWER_CMD, INFO) == 12);

namespace com = bsp::com;
using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

extern "C" {

// ---- serial port objects ----

SDK_BSP_API uint32_t BSP_ComCreate(uint32_t index) noexcept { return com::create_port(index); }
SDK_BSP_API uint32_t SDK_BSP_ComDestroy(uint32_t index) noexcept { return com::destroy_port(index); }
SDK_BSP_API uint32_t SDK_BSP_ComGetSlots(void) noexcept { return com::port_slots(); }
SDK_BSP_API uint32_t SDK_BSP_ComGetCapbility(uint32_t index, ComCapability* cap) noexcept {
    return com::port_capability(index, cap);
}
SDK_BSP_API uint32_t SDK_BSP_ComSetParams(uint32_t index, const ComParams* params) noexcept {
    return com::set_port_params(index, params);
}
SDK_BSP_API uint32_t SDK_BSP_ComWrite(uint32_t index, const uint8_t* data, uint32_t len, uint32_t* written) noexcept {
    return com::write_port(index, data, len, written);
}
SDK_BSP_API uint32_t SDK_BSP_ComRead(uint32_t index, uint8_t* buf, uint32_t len, uint32_t* got) noexcept {
    return com::read_port(index, buf, len, got);
}
SDK_BSP_API uint32_t SDK_BSP_ComFlush(uint32_t index) noexcept { return com::flush_port(index); }
SDK_BSP_API void M_COM_INIT(void) noexcept { com::open_ports(); }
SDK_BSP_API uint8_t M_BAU_SET_COM(uint32_t index, uint32_t baud, uint8_t dataBits, uint8_t stopBits,
                                  uint8_t parity) noexcept {
    return com::set_port_line(index, baud, dataBits, stopBits, parity);
}

// ---- board link and link watchdog ----

SDK_BSP_API uint32_t INFo_SUM(const uint8_t* data, uint32_t count) noexcept { return com::frame_sum(data, count); }
SDK_BSP_API uint32_t EXT_TTYSCOM_SEND_INFO(int32_t index, const uint8_t* data, uint32_t len) noexcept {
    return com::send_board(index, data, len);
}
SDK_BSP_API uint32_t EXT_TTYSCOM_SET_BAU(int32_t index, uint32_t baud, uint32_t dataBits, uint32_t stopBits,
                                         uint32_t parity) noexcept {
    return com::set_board_line(index, baud, dataBits, stopBits, parity);
}
SDK_BSP_API uint32_t ENV_TTYSCOM_SEND_INFO(const uint8_t* data, uint32_t len) noexcept {
    return com::send_env(data, len);
}
SDK_BSP_API int32_t ENV_TTYSCOM_SET_BAU(uint32_t baud, uint32_t dataBits, uint32_t stopBits, uint32_t parity) noexcept {
    return com::set_env_line(baud, dataBits, stopBits, parity);
}
SDK_BSP_API int32_t EXT_TOP_DO_SET(uint32_t ch, uint32_t value) noexcept { return com::set_top_do(ch, value); }
SDK_BSP_API uint32_t EXT_TTYSCOM_app_dog(uint32_t board) noexcept { return com::send_keep_alive(board); }
SDK_BSP_API void RunComDog(void) noexcept { com::tick_link_dog(); }
SDK_BSP_API void Rest_cnt_com_dog(int32_t board) noexcept { com::restart_link_dog(board); }
SDK_BSP_API uint32_t Return_ComDog_Cnt(int32_t board) noexcept { return com::link_dog_count(board); }

// ---- receive threads and buffers ----

SDK_BSP_API void FSU_COM_READ_THREAD_START(void) noexcept { com::start_receive_threads(bsp::gps::read_loop); }
SDK_BSP_API void* M_COM_READ_THREAD(void* arg) noexcept { return com::pass_through_main(arg); }
SDK_BSP_API void* EXT_COM_READ_THREAD(void* arg) noexcept { return com::board_link_main(arg); }
SDK_BSP_API int read_a_msg(unsigned char* acc, unsigned char* msg, int fill, int* new_fill) noexcept {
    return com::cut_frame(acc, msg, fill, new_fill);
}
SDK_BSP_API int SDK_Read_COM(uint32_t index, unsigned char** dest, int max) noexcept {
    return com::drain(index, dest, max);
}

// ---- environment link ----

SDK_BSP_API void* ENV_COM_READ_THREAD(void* arg) noexcept { return bsp::gps::read_loop(arg); }
SDK_BSP_API void* ENV_COM_SEND_THREAD(void* arg) noexcept { return com::env_send_main(arg); }
SDK_BSP_API int DO_API_SET_CHECK(void) noexcept { return com::output_request_pending(); }
SDK_BSP_API int SET_DO_CMD(char* frame) noexcept { return com::output_command_frame(frame); }
SDK_BSP_API void SET_ENV_BOARD_RIGHT_FG(void) noexcept { com::set_env_board_flag(); }
SDK_BSP_API uint32_t REAG_ENV_BOARD_RIGHT_FG(void) noexcept { return com::take_env_board_flag(); }

// ---- Uart API ----

SDK_BSP_API int SetUartParam(const char* name, int iBaudRate, int iDataSize, int iStopBit, int iParity) noexcept {
    return com::set_uart(name, iBaudRate, iDataSize, iStopBit, iParity);
}
SDK_BSP_API int GetUartParam(const char* name, int* iBaudRate, int* iDataSize, int* iStopBit, int* iParity) noexcept {
    return com::get_uart(name, iBaudRate, iDataSize, iStopBit, iParity);
}
SDK_BSP_API int ReadUart(const char* name, unsigned char* buffer, int length, unsigned int timeout) noexcept {
    return com::read_uart(name, buffer, length, timeout);
}
SDK_BSP_API int WriteUart(const char* name, const unsigned char* data, int length) noexcept {
    return com::write_uart(name, data, length);
}
SDK_BSP_API void BSP_BAU_INIT(void) noexcept { com::init_line_settings(); }

// ---- power-protocol codec ----

SDK_BSP_API int POWER_7E_CMDSend(const STR_POWER_CMD* cmd, char* frame) noexcept { return com::encode_frame(cmd, frame); }
SDK_BSP_API uint16_t EnCheckLTH(uint16_t info_bytes) noexcept { return com::length_field(info_bytes); }
SDK_BSP_API int EnCheckSum(char* text, uint16_t count) noexcept { return com::append_checksum(text, count); }
SDK_BSP_API int CheckSum(const char* text, int count) noexcept { return com::check_checksum(text, count); }
SDK_BSP_API int CheckLTH(const unsigned char* length, uint16_t frame_bytes) noexcept {
    return com::check_length(length, frame_bytes);
}
SDK_BSP_API void HexToAsc(unsigned char* data, uint16_t count) noexcept { com::digits_to_ascii(data, count); }
SDK_BSP_API uint16_t Data_Open(unsigned char* data, uint16_t count) noexcept { return com::split_nibbles(data, count); }
SDK_BSP_API uint8_t Data_Close(unsigned char* data, uint8_t count) noexcept { return com::join_nibbles(data, count); }
SDK_BSP_API uint8_t bsp_AscToHex(const char* text) noexcept { return com::hex_byte(text); }
SDK_BSP_API uint16_t AscToUnShort(const char* text) noexcept { return com::hex_word(text); }
SDK_BSP_API int32_t READ_SYSTEM_UnixTime(void) noexcept { return com::unix_time(); }

}  // extern "C"

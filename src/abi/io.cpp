// The exported names of local I/O: input and output values, GPIO lines, LEDs and the switched 12 V
// output, the software watchdog; the LED table and the watchdog thread's handle.
#include <pthread.h>

#include "io/io.h"
#include "sdk_bsp.h"

// The LED lines are active-low: an LED lights while its line reads 0. (extern "C" again on the
// definition, so that GCC keeps the export of a const object.)
extern "C" SDK_BSP_API const LED_GPIO_T LED_GPIO_LIST[SDK_BSP_LED_ROWS] = {
    {501, 1},     // "Local/Led/run"
    {502, 65535}, // "Local/Led/power"
    {503, 18},    // "Local/Led/alarm"
    {504, 0},     // "Local/Led/net"
    {505, 65535}, // "Local/Led/update"
    {506, 65535}, {507, 65535}, {508, 65535},  // "Local/Led/extend1".."Local/Led/extend3"
    {509, 4},     // "Local/Led/1"
    {510, 65535}, {511, 65535}, {512, 65535}, {513, 65535}, {514, 65535}, {515, 65535}, {516, 65535},
    {517, 65535}, {518, 65535}, {519, 65535}, {520, 65535}, {521, 65535}, {522, 65535},
};
static_assert(sizeof LED_GPIO_LIST == 22 * 8);

SDK_BSP_API pthread_t thread_dog;

namespace io = bsp::io;

extern "C" {

// ---- input and output values ----

SDK_BSP_API int GetAIValue(const char* resourceName, int type, float* value) noexcept {
    return io::get_ai(resourceName, type, value);
}
SDK_BSP_API int GetAIValue_String(const char* resourceName, int type, char* text) noexcept {
    return io::get_ai_text(resourceName, type, text);
}
SDK_BSP_API int GetDIValue(const char* resourceName, int* value) noexcept { return io::get_di(resourceName, value); }
SDK_BSP_API int GetBatValue(const char* resourceName, float* value) noexcept { return io::get_bat(resourceName, value); }
SDK_BSP_API int SetDOValue(const char* resourceName, int value) noexcept { return io::set_do(resourceName, value); }
SDK_BSP_API int Read_AI_VALUE_FromResourceName(int id, int type, float* value) noexcept {
    return io::read_ai(id, type, value);
}
SDK_BSP_API int Read_DI_VALUE_FromResourceName(int id, int* value) noexcept { return io::read_di(id, value); }
// The box has no battery inputs the library reads.
SDK_BSP_API int Read_Bat_VALUE_FromResourceName(int /*id*/, float* /*value*/) noexcept { return -1; }
SDK_BSP_API int SetDOValue_FromResourceName(int id, int value) noexcept { return io::request_do(id, value); }
// Entry points kept for hosts that call them; the inputs need no calibration or set-up here.
SDK_BSP_API int OFFSET_VALUE_INIT(void) noexcept { return 1; }
SDK_BSP_API int AI_Calibration_Check(void) noexcept { return 1; }
SDK_BSP_API void BSP_AIDI_INIT(void) noexcept {}

// ---- gpio, leds, 12 V output ----

SDK_BSP_API int bsp_gpio_export(int gpio) noexcept { return io::gpio_export(gpio); }
SDK_BSP_API int bsp_gpio_unexport(int gpio) noexcept { return io::gpio_unexport(gpio); }
SDK_BSP_API int bsp_gpio_direction(int gpio, int out) noexcept { return io::gpio_direction(gpio, out); }
SDK_BSP_API int SDK_bsp_gpio_write(int gpio, int value) noexcept { return io::gpio_write(gpio, value); }
SDK_BSP_API int bsp_gpio_read(int gpio) noexcept { return io::gpio_read(gpio); }
SDK_BSP_API int bsp_gpio_edge(int gpio, int edge) noexcept { return io::gpio_edge(gpio, edge); }
// The LED calls answer -1 whatever they did: the system's fixed result.
SDK_BSP_API int SetLEDValue_FromResourceName(int id, int value) noexcept {
    io::set_led(id, value);
    return -1;
}
SDK_BSP_API int SetLEDValue(const char* resourceName, int value) noexcept {
    io::set_led_by_name(resourceName, value);
    return -1;
}
SDK_BSP_API void sdk_start_log(void) noexcept { io::lamp_test(); }
SDK_BSP_API int SET_AO_12V_RESTART(int channel, unsigned int seconds) noexcept {
    return io::restart_12v(channel, seconds);
}
// The box has no beeper the library drives.
SDK_BSP_API void BSP_BEEP_START(void) noexcept {}

// ---- software watchdog: every call answers 0 ----

SDK_BSP_API int SoftDogEnable(int enable, unsigned int interval_ms) noexcept {
    io::arm_soft_dog(enable, interval_ms, true);
    return 0;
}
SDK_BSP_API int SoftDogFeedInterval(unsigned int interval_ms) noexcept {
    io::set_feed_interval(interval_ms, true);
    return 0;
}
SDK_BSP_API int SoftDogFeed(void) noexcept {
    io::feed_soft_dog(true);
    return 0;
}
SDK_BSP_API int bsp_SoftDogEnable(int enable, unsigned int interval_ms) noexcept {
    io::arm_soft_dog(enable, interval_ms);
    return 0;
}
SDK_BSP_API int bsp_SoftDogFeedInterval(unsigned int interval_ms) noexcept {
    io::set_feed_interval(interval_ms);
    return 0;
}
SDK_BSP_API int bsp_SoftDogFeed(void) noexcept {
    io::feed_soft_dog();
    return 0;
}
SDK_BSP_API void bsp_SoftDog_Init(void) noexcept { io::reset_soft_dog(); }
SDK_BSP_API void soft_dog_run(void) noexcept { io::start_soft_dog(); }
SDK_BSP_API void* App_SoftDogFeed(void* arg) noexcept { return io::soft_dog_main(arg); }

}  // extern "C"

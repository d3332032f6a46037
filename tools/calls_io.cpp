// sdk-shell: local I/O: input and output values, GPIO lines, LEDs, the 12 V output and the
// software watchdog (its thread routine aside: soft_dog_run starts it).
//
//   GetAIValue "Local/AI/3" 0 out:float        GetAIValue_String "Local/AI/3" 1 buf:48
//   SetDOValue "Local/DO/2" 1                  SetLEDValue "Local/Led/run" 1
//   bsp_gpio_edge 4 2                          SoftDogEnable 1 30000
#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

unsigned int u(const Call& c, std::size_t k) { return static_cast<unsigned int>(c.i(k)); }

const Registration io_calls{
    // input and output values
    {"GetAIValue", {"sif", [](const Call& c) -> Result { return GetAIValue(c.s(0), c.i(1), c.f(2)); }}},
    {"GetAIValue_String", {"sib", [](const Call& c) -> Result {
         auto* buf = std::get_if<OutBuffer>(&c.args()[2]);
         if (buf && buf->bytes.size() < SDK_BSP_AI_TEXT_SIZE) return -999;  // the call needs 48 bytes
         return GetAIValue_String(c.s(0), c.i(1), c.b(2));
     }}},
    {"GetDIValue", {"sp", [](const Call& c) -> Result { return GetDIValue(c.s(0), c.p(1)); }}},
    {"GetBatValue", {"sf", [](const Call& c) -> Result { return GetBatValue(c.s(0), c.f(1)); }}},
    {"SetDOValue", {"si", [](const Call& c) -> Result { return SetDOValue(c.s(0), c.i(1)); }}},
    {"Read_AI_VALUE_FromResourceName",
     {"iif", [](const Call& c) -> Result { return Read_AI_VALUE_FromResourceName(c.i(0), c.i(1), c.f(2)); }}},
    {"Read_DI_VALUE_FromResourceName",
     {"ip", [](const Call& c) -> Result { return Read_DI_VALUE_FromResourceName(c.i(0), c.p(1)); }}},
    {"Read_Bat_VALUE_FromResourceName",
     {"if", [](const Call& c) -> Result { return Read_Bat_VALUE_FromResourceName(c.i(0), c.f(1)); }}},
    {"SetDOValue_FromResourceName",
     {"ii", [](const Call& c) -> Result { return SetDOValue_FromResourceName(c.i(0), c.i(1)); }}},
    {"OFFSET_VALUE_INIT", {"", [](const Call&) -> Result { return OFFSET_VALUE_INIT(); }}},
    {"AI_Calibration_Check", {"", [](const Call&) -> Result { return AI_Calibration_Check(); }}},
    {"BSP_AIDI_INIT", {"", [](const Call&) { return none(BSP_AIDI_INIT); }}},
    // gpio, leds, 12 V output
    {"bsp_gpio_export", {"i", [](const Call& c) -> Result { return bsp_gpio_export(c.i(0)); }}},
    {"bsp_gpio_unexport", {"i", [](const Call& c) -> Result { return bsp_gpio_unexport(c.i(0)); }}},
    {"bsp_gpio_direction", {"ii", [](const Call& c) -> Result { return bsp_gpio_direction(c.i(0), c.i(1)); }}},
    {"SDK_bsp_gpio_write", {"ii", [](const Call& c) -> Result { return SDK_bsp_gpio_write(c.i(0), c.i(1)); }}},
    {"bsp_gpio_read", {"i", [](const Call& c) -> Result { return bsp_gpio_read(c.i(0)); }}},
    {"bsp_gpio_edge", {"ii", [](const Call& c) -> Result { return bsp_gpio_edge(c.i(0), c.i(1)); }}},
    {"SetLEDValue", {"si", [](const Call& c) -> Result { return SetLEDValue(c.s(0), c.i(1)); }}},
    {"SetLEDValue_FromResourceName",
     {"ii", [](const Call& c) -> Result { return SetLEDValue_FromResourceName(c.i(0), c.i(1)); }}},
    {"sdk_start_log", {"", [](const Call&) { return none(sdk_start_log); }}},
    {"SET_AO_12V_RESTART", {"ii", [](const Call& c) -> Result { return SET_AO_12V_RESTART(c.i(0), u(c, 1)); }}},
    {"BSP_BEEP_START", {"", [](const Call&) { return none(BSP_BEEP_START); }}},
    // software watchdog
    {"SoftDogEnable", {"ii", [](const Call& c) -> Result { return SoftDogEnable(c.i(0), u(c, 1)); }}},
    {"SoftDogFeedInterval", {"i", [](const Call& c) -> Result { return SoftDogFeedInterval(u(c, 0)); }}},
    {"SoftDogFeed", {"", [](const Call&) -> Result { return SoftDogFeed(); }}},
    {"bsp_SoftDogEnable", {"ii", [](const Call& c) -> Result { return bsp_SoftDogEnable(c.i(0), u(c, 1)); }}},
    {"bsp_SoftDogFeedInterval", {"i", [](const Call& c) -> Result { return bsp_SoftDogFeedInterval(u(c, 0)); }}},
    {"bsp_SoftDogFeed", {"", [](const Call&) -> Result { return bsp_SoftDogFeed(); }}},
    {"bsp_SoftDog_Init", {"", [](const Call&) { return none(bsp_SoftDog_Init); }}},
    {"soft_dog_run", {"", [](const Call&) { return none(soft_dog_run); }}},
};

}  // namespace
}  // namespace shell

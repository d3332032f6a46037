// sdk-shell: the log, resource names and counts.
#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

// Passes printf arguments of the kinds written on the line (at most four).
constexpr std::size_t kMaxPrintfArgs = 4;
template <typename... T>
int log_write(const Call& c, std::size_t k, T... done) {
    auto& args = c.args();
    if constexpr (sizeof...(T) < kMaxPrintfArgs) {
        if (k < args.size()) {
            if (auto* v = std::get_if<long long>(&args[k])) return log_write(c, k + 1, done..., static_cast<int>(*v));
            return log_write(c, k + 1, done..., std::get<std::string>(args[k]).c_str());
        }
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    return SDK_LOG_WRITE(c.i(0), c.s(1), done...);
#pragma GCC diagnostic pop
}

// A void function of one integer.
template <void (*F)(int)>
Result setter(const Call& c) {
    F(c.i(0));
    return kVoid;
}

const Registration sdk_calls{
    // start-up
    {"InitializeSDK", {"", [](const Call&) -> Result { return InitializeSDK(); }}},
    {"UninitializeSDK", {"", [](const Call&) -> Result { return UninitializeSDK(); }}},
    {"SYSTEM_INIT", {"", [](const Call&) { return none(SYSTEM_INIT); }}},
    {"BOARD_HARDWARE_RESOURCES_INIT", {"", [](const Call&) { return none(BOARD_HARDWARE_RESOURCES_INIT); }}},
    // log
    {"SDK_LOG_WRITE", {"isv", [](const Call& c) -> Result {
         if (c.args().size() > 2 + kMaxPrintfArgs) return -999;
         return log_write(c, 2);
     }}},
    {"SDK_LOG_PAR_INIT", {"", [](const Call&) { return none(SDK_LOG_PAR_INIT); }}},
    {"SDK_LOG_PAR_INIT_NOPRINTF", {"", [](const Call&) { return none(SDK_LOG_PAR_INIT_NOPRINTF); }}},
    {"SDK_LOG_SAVE_FILE",
     {"ss", [](const Call& c) -> Result { return SDK_LOG_SAVE_FILE(c.s(0), const_cast<char*>(c.s(1))); }}},
    // resource names and counts
    {"READ_resourceName", {"s", [](const Call& c) -> Result { return READ_resourceName(c.s(0)); }}},
    {"PAR_SET_M_COM_EXIST_STATUS", {"i", setter<PAR_SET_M_COM_EXIST_STATUS>}},
    {"PAR_SET_EXT_COM_EXIST_STATUS", {"i", setter<PAR_SET_EXT_COM_EXIST_STATUS>}},
    {"PAR_SET_M_ENV_EXIST_STATUS", {"i", setter<PAR_SET_M_ENV_EXIST_STATUS>}},
    {"PAR_SET_EXT_ENV_EXIST_STATUS", {"i", setter<PAR_SET_EXT_ENV_EXIST_STATUS>}},
    {"BSP_Resource_CHECK", {"", [](const Call&) { return none(BSP_Resource_CHECK); }}},
    {"sdk_read_com_num", {"", [](const Call&) -> Result { return sdk_read_com_num(); }}},
    {"sdk_read_ai_num", {"", [](const Call&) -> Result { return sdk_read_ai_num(); }}},
    {"sdk_read_di_num", {"", [](const Call&) -> Result { return sdk_read_di_num(); }}},
    {"sdk_read_do_num", {"", [](const Call&) -> Result { return sdk_read_do_num(); }}},
    {"ReadFSUResource", {"bi", [](const Call& c) -> Result { return ReadFSUResource(c.b(0), c.i(1)); }}},
    {"ReadResourceAlias",
     {"sbi", [](const Call& c) -> Result { return ReadResourceAlias(c.s(0), c.b(1), c.i(2)); }}},
    {"GetResourceState", {"sp", [](const Call& c) -> Result { return GetResourceState(c.s(0), c.p(1)); }}},
};

}  // namespace
}  // namespace shell

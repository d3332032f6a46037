// The value API: analog and digital inputs read from the environment record, output requests
// written into it for the environment send loop, battery values refused.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"
#include "com/env_link.h"
#include "io/io.h"

namespace bsp::io {
namespace {

using base::kLogDebug;
using base::log_write;
using base::resource_id;

// Served resource IDs.
constexpr int kAiFirst = 101, kAiLast = 116;
constexpr int kDiFirst = 201, kDiLast = 224;
constexpr int kDiStates = 16;  // DI 1..16; DI 17..24 are the outputs' present states
constexpr int kDoFirst = 301, kDoLast = 304;

// The text GetAIValue_String formats: "%f" of any float, sign and terminator included.
static_assert(SDK_BSP_AI_TEXT_SIZE >= sizeof "-340282346638528859811704183484516925440.000000");

// Printed in place of a missing name, as the C library would print it.
const char* shown(const char* name) noexcept { return name ? name : "(null)"; }

// The record is the environment link's, shared with the host without a lock: every element is read
// as one atomic word or byte.
template <typename T>
T load(T& field) noexcept {
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

}  // namespace

int read_ai(int id, int type, float* value) noexcept {
    if (id < kAiFirst || id > kAiLast) {
        log_write(kLogDebug, texts::kAiResourceError);
        return -1;
    }
    if (!value) return -1;
    auto& values = type == 0 ? STR_BSP_ENV_INFO.ai_kind0 : STR_BSP_ENV_INFO.ai_other;
    *value = load(values[id - kAiFirst]);
    return 0;
}

int read_di(int id, int* value) noexcept {
    if (id < kDiFirst || id > kDiLast || !value) return -1;
    // DI 1..24 are 24 consecutive bytes of the record: the DI states, then the outputs' states.
    int i = id - kDiFirst;
    *value = i < kDiStates ? load(STR_BSP_ENV_INFO.di[i]) : load(STR_BSP_ENV_INFO.do_state[i - kDiStates]);
    return 0;
}

int request_do(int id, int value) noexcept {
    if (id < kDoFirst || id > kDoLast) return -1;
    com::request_output(static_cast<std::size_t>(id - kDoFirst), static_cast<std::uint8_t>(value));
    return 0;
}

int get_ai(const char* resourceName, int type, float* value) noexcept {
    int result = read_ai(resource_id(resourceName), type, value);
    log_write(kLogDebug, texts::kGetAiValue, shown(resourceName), type,
                  value ? static_cast<double>(*value) : 0.0, result);
    return result;
}

int get_ai_text(const char* resourceName, int type, char* text) noexcept {
    // A failed read leaves the value at 0, so the text then reads "0.000000".
    float value = 0.0f;
    int result = read_ai(resource_id(resourceName), type, &value);
    std::array<char, SDK_BSP_AI_TEXT_SIZE> formatted{};
    std::snprintf(formatted.data(), formatted.size(), "%f", static_cast<double>(value));
    if (text)
        std::memcpy(text, formatted.data(), std::strlen(formatted.data()) + 1);
    else
        result = -1;
    log_write(kLogDebug, texts::kGetAiValueText, shown(resourceName), type,
                  formatted.data(), result);
    return result;
}

int get_di(const char* resourceName, int* value) noexcept {
    int result = read_di(resource_id(resourceName), value);
    log_write(kLogDebug, texts::kGetDiValue, shown(resourceName), value ? *value : 0);
    return result;
}

// The box has no battery inputs the library reads: every call fails, after its log line.
int get_bat(const char* resourceName, float* value) noexcept {
    log_write(kLogDebug, texts::kGetBatValue, shown(resourceName), value ? static_cast<double>(*value) : 0.0);
    return -1;
}

int set_do(const char* resourceName, int value) noexcept {
    int result = request_do(resource_id(resourceName), value);
    log_write(kLogDebug, texts::kSetDoValue, shown(resourceName), value);
    return result;
}

}  // namespace bsp::io

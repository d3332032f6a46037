// The software watchdog: the host feeds it; once armed and starved for its interval plus a
// minute, the watchdog thread logs it and reboots the box. The same thread ticks the extension
// boards' link keep-alive every second.
#include <atomic>
#include <cstdint>

#include <pthread.h>

#include "io/io.h"
#include "os/os.h"
#include "sdk/sdk.h"

SDK_BSP_API pthread_t thread_dog;

namespace bsp::io {
namespace {

using bsp::sdk::kLogDebug;
using bsp::sdk::kLogSys;

constexpr std::uint32_t kDefaultInterval = 600;  // seconds
constexpr std::uint32_t kGrace = 60;             // seconds allowed on top of the interval
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr long kPassMs = 1000;

SoftDog app___SOFTDOG{};

// Host threads write the record and the watchdog thread reads it, without a lock. An update
// stores the feed time first, then the interval, then the enable byte (release); the thread reads
// them in the opposite order (acquire), so it never combines a new interval or a new enable with
// the feed time from before the same call.
template <typename T>
std::atomic_ref<T> field(T& f) noexcept {
    return std::atomic_ref<T>(f);
}

void update(const std::uint8_t* enable, const std::uint32_t* interval_ms) noexcept {
    field(app___SOFTDOG.last_feed).store(ReadSysTime_Value(), std::memory_order_relaxed);
    if (interval_ms) field(app___SOFTDOG.interval).store(*interval_ms / kMsPerSecond, std::memory_order_release);
    if (enable) field(app___SOFTDOG.enable).store(*enable, std::memory_order_release);
}

// The host API's trace, with each call's fixed number.
void trace(const char* function, int number) noexcept { SDK_LOG_WRITE(kLogDebug, "fun=%s,line =%d", function, number); }

std::atomic<bool> g_dog_started{false};

}  // namespace

std::uint32_t ReadSysTime_Value() noexcept { return static_cast<std::uint32_t>(bsp::os::now()); }

SoftDog soft_dog() noexcept {
    SoftDog d;
    d.enable = field(app___SOFTDOG.enable).load(std::memory_order_acquire);
    d.interval = field(app___SOFTDOG.interval).load(std::memory_order_acquire);
    d.last_feed = field(app___SOFTDOG.last_feed).load(std::memory_order_relaxed);
    return d;
}

void soft_dog_pass() noexcept {
    RunComDog();
    bsp::os::sleep_ms(kPassMs);
    if (field(app___SOFTDOG.enable).load(std::memory_order_acquire) != 1) return;
    // The time before the record: a feed that lands in between only moves the deadline later.
    std::uint32_t now = ReadSysTime_Value();
    SoftDog d = soft_dog();
    std::uint32_t deadline = d.last_feed + d.interval + kGrace;  // 32-bit, as the box counts
    if (now <= deadline) return;
    SDK_LOG_WRITE(kLogSys, "soft dog start,ready reboot=%d", static_cast<int>(d.interval));
    bsp::os::sleep_ms(kPassMs);
    bsp::os::run("reboot");
}

}  // namespace bsp::io

using namespace bsp::io;

extern "C" {

SDK_BSP_API void bsp_SoftDog_Init(void) noexcept {
    field(app___SOFTDOG.enable).store(0, std::memory_order_release);
    std::uint32_t ms = kDefaultInterval * kMsPerSecond;
    update(nullptr, &ms);
}

SDK_BSP_API int bsp_SoftDogEnable(int enable, unsigned int interval_ms) noexcept {
    std::uint8_t armed = static_cast<std::uint8_t>(enable);  // its low 8 bits: 257 arms, 2 does not
    std::uint32_t ms = interval_ms;
    update(&armed, &ms);
    return 0;
}

SDK_BSP_API int bsp_SoftDogFeedInterval(unsigned int interval_ms) noexcept {
    std::uint32_t ms = interval_ms;
    update(nullptr, &ms);
    return 0;
}

SDK_BSP_API int bsp_SoftDogFeed(void) noexcept {
    update(nullptr, nullptr);
    return 0;
}

SDK_BSP_API int SoftDogEnable(int enable, unsigned int interval_ms) noexcept {
    bsp_SoftDogEnable(enable, interval_ms);
    trace("SoftDogEnable", 409);
    return 0;
}

SDK_BSP_API int SoftDogFeedInterval(unsigned int interval_ms) noexcept {
    bsp_SoftDogFeedInterval(interval_ms);
    trace("SoftDogFeedInterval", 424);
    return 0;
}

SDK_BSP_API int SoftDogFeed(void) noexcept {
    bsp_SoftDogFeed();
    trace("SoftDogFeed", 439);
    return 0;
}

SDK_BSP_API void* App_SoftDogFeed(void*) noexcept {
    for (;;) soft_dog_pass();
}

SDK_BSP_API void soft_dog_run(void) noexcept {
    if (g_dog_started.exchange(true)) return;
    // A thread that cannot be created is not reported: the box then runs without a watchdog.
    pthread_create(&thread_dog, nullptr, App_SoftDogFeed, nullptr);
}

}  // extern "C"

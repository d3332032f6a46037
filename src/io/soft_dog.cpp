// The software watchdog: the host feeds it; once armed and starved for its interval plus a
// minute, the watchdog thread logs it and reboots the box. The same thread ticks the extension
// boards' link keep-alive every second.
#include <atomic>
#include <cstdint>

#include <pthread.h>

#include "base/log.h"
#include "base/texts.h"
#include "com/board_link.h"
#include "io/io.h"
#include "os/os.h"

namespace bsp::io {
namespace {

using base::kLogDebug;
using base::kLogSys;

constexpr std::uint32_t kDefaultInterval = 600;  // seconds
constexpr std::uint32_t kGrace = 60;             // seconds allowed on top of the interval
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr long kPassMs = 1000;

SoftDog g_dog{};

// Host threads write the record and the watchdog thread reads it, without a lock. An update
// stores the feed time first, then the interval, then the enable byte (release); the thread reads
// them in the opposite order (acquire), so it never combines a new interval or a new enable with
// the feed time from before the same call.
template <typename T>
std::atomic_ref<T> field(T& f) noexcept {
    return std::atomic_ref<T>(f);
}

void update(const std::uint8_t* enable, const std::uint32_t* interval_ms) noexcept {
    field(g_dog.last_feed).store(seconds_now(), std::memory_order_relaxed);
    if (interval_ms) field(g_dog.interval).store(*interval_ms / kMsPerSecond, std::memory_order_release);
    if (enable) field(g_dog.enable).store(*enable, std::memory_order_release);
}

// The host API's trace, with each call's fixed number.
void trace(bool traced, const texts::Step& step) noexcept {
    if (traced) base::log_write(kLogDebug, texts::kSoftDogTrace, step.function, step.line);
}

std::atomic<bool> g_dog_started{false};

}  // namespace

std::uint32_t seconds_now() noexcept { return static_cast<std::uint32_t>(os::now()); }

SoftDog soft_dog() noexcept {
    SoftDog d;
    d.enable = field(g_dog.enable).load(std::memory_order_acquire);
    d.interval = field(g_dog.interval).load(std::memory_order_acquire);
    d.last_feed = field(g_dog.last_feed).load(std::memory_order_relaxed);
    return d;
}

void reset_soft_dog() noexcept {
    field(g_dog.enable).store(0, std::memory_order_release);
    std::uint32_t ms = kDefaultInterval * kMsPerSecond;
    update(nullptr, &ms);
}

void arm_soft_dog(int enable, unsigned interval_ms, bool traced) noexcept {
    std::uint8_t armed = static_cast<std::uint8_t>(enable);  // its low 8 bits: 257 arms, 2 does not
    std::uint32_t ms = interval_ms;
    update(&armed, &ms);
    trace(traced, texts::kSoftDogEnable);
}

void set_feed_interval(unsigned interval_ms, bool traced) noexcept {
    std::uint32_t ms = interval_ms;
    update(nullptr, &ms);
    trace(traced, texts::kSoftDogFeedInterval);
}

void feed_soft_dog(bool traced) noexcept {
    update(nullptr, nullptr);
    trace(traced, texts::kSoftDogFeed);
}

void soft_dog_pass() noexcept {
    com::tick_link_dog();
    os::sleep_ms(kPassMs);
    if (field(g_dog.enable).load(std::memory_order_acquire) != 1) return;
    // The time before the record: a feed that lands in between only moves the deadline later.
    std::uint32_t now = seconds_now();
    SoftDog d = soft_dog();
    std::uint32_t deadline = d.last_feed + d.interval + kGrace;  // 32-bit, as the box counts
    if (now <= deadline) return;
    base::log_write(kLogSys, texts::kSoftDogReboot, static_cast<int>(d.interval));
    os::sleep_ms(kPassMs);
    os::run("reboot");
}

void* soft_dog_main(void*) noexcept {
    for (;;) soft_dog_pass();
}

void start_soft_dog() noexcept {
    if (g_dog_started.exchange(true)) return;
    // A thread that cannot be created is not reported: the box then runs without a watchdog.
    pthread_create(&thread_dog, nullptr, soft_dog_main, nullptr);
}

}  // namespace bsp::io

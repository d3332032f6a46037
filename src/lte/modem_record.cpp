// The modem state record NTU: the lock its texts are written and copied under, and its clearing
// at the start of the supervisor.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "lte/lte.h"

namespace bsp::lte {
namespace {

std::mutex g_text_lock;

// What clear_record sets to zero: the integers (flags first), and the texts made empty.
constexpr std::int32_t NTU_T::*kClearedWords[] = {
    &NTU_T::pppdstart, &NTU_T::pppdend, &NTU_T::softreboot, &NTU_T::hardreboot, &NTU_T::usbstate,
    &NTU_T::dialstarted, &NTU_T::reserved3, &NTU_T::mode_id, &NTU_T::cardstat,
};
using Text = char[kTextSize];
constexpr Text NTU_T::*kClearedTexts[] = {
    &NTU_T::lteip, &NTU_T::lteip1, &NTU_T::atdev, &NTU_T::csq, &NTU_T::netstate,
    &NTU_T::longitude, &NTU_T::latitude, &NTU_T::high,
};

}  // namespace

std::mutex& text_lock() noexcept { return g_text_lock; }

void store_text(char* field, std::size_t size, std::string_view text) noexcept {
    if (!field || size == 0) return;
    // A field holds size - 1 characters and its terminator; the rest of a longer text is cut.
    const std::size_t n = std::min(text.size(), size - 1);
    std::lock_guard lock(g_text_lock);
    if (n) std::memcpy(field, text.data(), n);  // an empty view may have no data at all
    std::memset(field + n, 0, size - n);
}

std::size_t copy_text(char* out, std::size_t size, const char* field, std::size_t field_size) noexcept {
    if (!out || size == 0) return 0;
    std::lock_guard lock(g_text_lock);
    // strnlen: a host may have written the field without a terminator.
    const std::size_t n = std::min(strnlen(field, field_size), size - 1);
    std::memcpy(out, field, n);
    out[n] = '\0';
    return n;
}

void clear_record() noexcept {
    for (auto field : kClearedWords) word(field).store(0);
    for (auto& w : NTU.reserved1) std::atomic_ref(w).store(0);
    for (auto& w : NTU.reserved2) std::atomic_ref(w).store(0);
    with_record([](NTU_T& r) {
        for (auto field : kClearedTexts) std::memset(r.*field, 0, kTextSize);
        std::memset(r.reserved4, 0, sizeof r.reserved4);
        std::memset(r.reserved6, 0, sizeof r.reserved6);
        std::memset(r.reserved8, 0, sizeof r.reserved8);
    });
    std::printf("################NTU.mode_id=%d\n", static_cast<int>(word(&NTU_T::mode_id).load()));
}

}  // namespace bsp::lte

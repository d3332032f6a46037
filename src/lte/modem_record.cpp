// The modem state record NTU: the only code that writes it. Its texts are written and copied under
// one lock; its integers are single words, read and written atomically (the host may touch them).
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "lte/lte.h"

namespace bsp::lte {
namespace {

using TextField = char (NTU_T::*)[kTextSize];

// By Field and by Word.
constexpr std::array<TextField, 10> kTextFields{
    &NTU_T::lteip, &NTU_T::lteip1, &NTU_T::atdev, &NTU_T::csq, &NTU_T::netstate,
    &NTU_T::imsi,  &NTU_T::imei,   &NTU_T::longitude, &NTU_T::latitude, &NTU_T::high,
};
constexpr std::array<std::int32_t NTU_T::*, 10> kWords{
    &NTU_T::pppdstart, &NTU_T::pppdend,  &NTU_T::softreboot, &NTU_T::hardreboot, &NTU_T::usbstate,
    &NTU_T::dialstarted, &NTU_T::mode_id, &NTU_T::cardstat,  &NTU_T::attimeouts, &NTU_T::reserved3,
};

// What the supervisor's start sets to zero: the integers (flags first), and the texts made empty.
constexpr Word kClearedWords[] = {
    Word::kPppdstart, Word::kPppdend, Word::kSoftreboot, Word::kHardreboot, Word::kUsbstate,
    Word::kDialstarted, Word::kReserved3, Word::kModeId, Word::kCardstat,
};
constexpr Field kClearedTexts[] = {
    Field::kLteip, Field::kLteip1, Field::kAtdev, Field::kCsq, Field::kNetstate,
    Field::kLongitude, Field::kLatitude, Field::kHigh,
};

// A copy of a field, always terminated: a host may have written it without a terminator.
Text copied(const char* field, std::size_t size) noexcept {
    Text t{};
    std::memcpy(t.data(), field, std::min(size, t.size() - 1));
    return t;
}

class ModemRecord {
  public:
    std::atomic_ref<std::int32_t> word(Word w) noexcept {
        return std::atomic_ref(NTU.*kWords[static_cast<std::size_t>(w)]);
    }
    void set(Field f, std::string_view text) noexcept {
        std::lock_guard lock(texts_);
        put_text(field(f), kTextSize, text);
    }
    void set_position(const Text& lon, const Text& lat, const Text& high) noexcept {
        std::lock_guard lock(texts_);
        put_text(field(Field::kLongitude), kTextSize, lon.data());
        put_text(field(Field::kLatitude), kTextSize, lat.data());
        put_text(field(Field::kHigh), kTextSize, high.data());
    }
    Text text(Field f) noexcept {
        std::lock_guard lock(texts_);
        return copied(field(f), kTextSize);
    }
    Texts texts() noexcept {
        std::lock_guard lock(texts_);
        return {copied(NTU.imsi, kTextSize), copied(NTU.imei, kTextSize), copied(NTU.netstate, kTextSize),
                copied(NTU.csq, kTextSize), copied(NTU.lteip, kTextSize)};
    }
    std::size_t copy(char* out, std::size_t size, const char* text, std::size_t text_size) noexcept {
        std::lock_guard lock(texts_);
        // strnlen: a host may have written a field without a terminator.
        const std::size_t n = std::min(strnlen(text, text_size), size - 1);
        std::memcpy(out, text, n);
        out[n] = '\0';
        return n;
    }
    void clear() noexcept {
        for (Word w : kClearedWords) word(w).store(0);
        for (auto& w : NTU.reserved1) std::atomic_ref(w).store(0);
        for (auto& w : NTU.reserved2) std::atomic_ref(w).store(0);
        std::lock_guard lock(texts_);
        for (Field f : kClearedTexts) std::memset(field(f), 0, kTextSize);
        std::memset(NTU.reserved4, 0, sizeof NTU.reserved4);
        std::memset(NTU.reserved6, 0, sizeof NTU.reserved6);
        std::memset(NTU.reserved8, 0, sizeof NTU.reserved8);
    }

  private:
    static char* field(Field f) noexcept { return NTU.*kTextFields[static_cast<std::size_t>(f)]; }

    std::mutex texts_;
};

constinit ModemRecord g_record;

}  // namespace

void put_text(char* field, std::size_t size, std::string_view text) noexcept {
    const std::size_t n = std::min(text.size(), size - 1);
    if (n) std::memcpy(field, text.data(), n);  // an empty view may have no data at all
    std::memset(field + n, 0, size - n);
}

Text text(Field f) noexcept { return g_record.text(f); }
Texts record_texts() noexcept { return g_record.texts(); }
void set_text(Field f, std::string_view text) noexcept { g_record.set(f, text); }
void set_position(const Text& lon, const Text& lat, const Text& high) noexcept { g_record.set_position(lon, lat, high); }

std::size_t copy_text(char* out, std::size_t size, const char* text, std::size_t text_size) noexcept {
    return out && size != 0 && text ? g_record.copy(out, size, text, text_size) : 0;
}

std::int32_t word(Word w) noexcept { return g_record.word(w).load(); }
void set_word(Word w, std::int32_t value) noexcept { g_record.word(w).store(value); }
std::int32_t exchange_word(Word w, std::int32_t value) noexcept { return g_record.word(w).exchange(value); }

bool take_request(Word flag) noexcept {
    std::int32_t requested = 1;
    return g_record.word(flag).compare_exchange_strong(requested, 0);
}

void count_timeout() noexcept { g_record.word(Word::kAttimeouts).fetch_add(1); }

void clear_record() noexcept {
    g_record.clear();
    std::printf("################NTU.mode_id=%d\n", static_cast<int>(word(Word::kModeId)));
}

bool link_up(const Text& address) noexcept { return std::strlen(address.data()) >= kOnlineMin; }

}  // namespace bsp::lte

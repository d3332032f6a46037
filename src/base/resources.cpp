// Resource names and IDs, the board presence flags and the resource counts derived from them.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"

namespace bsp::base {
namespace {

// The table is generated from one rule per class of resource: name prefix, count, and the ID of
// number n as base + n (rows in this order).
struct NumberedClass {
    std::string_view prefix;
    int count;
    int base;
};
constexpr std::array<NumberedClass, 5> kNumberedFirst{{
    {"Local/Uart/", 16, 0},
    {"Local/AI/", 32, 100},
    {"Local/DI/", 32, 200},
    {"Local/DO/", 4, 300},
    {"Local/Bat/", 4, 400},
}};
constexpr std::array<std::string_view, 8> kNamedLeds{"Local/Led/run",     "Local/Led/power",   "Local/Led/alarm",
                                                     "Local/Led/net",     "Local/Led/update",  "Local/Led/extend1",
                                                     "Local/Led/extend2", "Local/Led/extend3"};
constexpr int kNamedLedBase = 500;
constexpr NumberedClass kNumberedLeds{"Local/Led/", 14, 508};

// Every name, each followed by its terminator, in table order.
constexpr std::size_t kNameBytes = 2048;

consteval std::array<char, kNameBytes> make_names() {
    std::array<char, kNameBytes> out{};
    std::size_t at = 0;
    auto put = [&](std::string_view s) {
        for (char c : s) out[at++] = c;
    };
    auto numbered = [&](const NumberedClass& k) {
        for (int n = 1; n <= k.count; ++n) {
            put(k.prefix);
            if (n >= 10) out[at++] = static_cast<char>('0' + n / 10);
            out[at++] = static_cast<char>('0' + n % 10);
            out[at++] = '\0';
        }
    };
    for (const auto& k : kNumberedFirst) numbered(k);
    for (auto name : kNamedLeds) {
        put(name);
        out[at++] = '\0';
    }
    numbered(kNumberedLeds);
    return out;
}
constexpr std::array<char, kNameBytes> kNames = make_names();

consteval std::array<Resource, kResourceRows> make_table() {
    std::array<Resource, kResourceRows> rows{};
    std::size_t row = 0, at = 0;
    auto add = [&](int id) {
        rows[row++] = {id, kNames.data() + at};
        while (kNames[at] != '\0') ++at;
        ++at;
    };
    for (const auto& k : kNumberedFirst)
        for (int n = 1; n <= k.count; ++n) add(k.base + n);
    for (int i = 1; i <= static_cast<int>(kNamedLeds.size()); ++i) add(kNamedLedBase + i);
    for (int n = 1; n <= kNumberedLeds.count; ++n) add(kNumberedLeds.base + n);
    return rows;
}
constexpr std::array<Resource, kResourceRows> kTable = make_table();
static_assert(kTable[109].id == 522 && kTable[88].id == 501);

// Presence flags and counts are shared with the receive threads and the host as single words.
std::int32_t load(std::int32_t& word) noexcept { return std::atomic_ref(word).load(std::memory_order_relaxed); }
void store(std::int32_t& word, std::int32_t v) noexcept { std::atomic_ref(word).store(v, std::memory_order_relaxed); }
bool present(std::int32_t& flag) noexcept { return load(flag) == 1; }

// Bounded builder of the resource list, a JSON array of strings.
class ListText {
  public:
    ListText() noexcept { add("["); }
    void item(const char* fmt, int n) noexcept {
        if (len_ > 1) add(",");
        add(fmt, n);
    }
    const char* close() noexcept {
        add("]");
        return text_.data();
    }
    std::size_t size() const noexcept { return len_; }

  private:
    __attribute__((format(printf, 2, 3))) void add(const char* fmt, ...) noexcept {
        va_list ap;
        va_start(ap, fmt);
        int n = std::vsnprintf(text_.data() + len_, text_.size() - len_, fmt, ap);
        va_end(ap);
        if (n > 0) len_ = std::min(len_ + static_cast<std::size_t>(n), text_.size() - 1);
    }

    std::array<char, SDK_BSP_RESOURCE_LIST_SIZE> text_{};
    std::size_t len_ = 0;
};

// Exact, case-sensitive comparison. (A plain loop: GCC misjudges the generated name block as
// unterminated when strcmp is used on it.)
bool same(const char* a, const char* b) noexcept {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

}  // namespace

const Resource* resources() noexcept { return kTable.data(); }

int resource_id(const char* name) noexcept {
    if (!name) return SDK_BSP_RESOURCE_NOT_FOUND;
    auto row = std::find_if(kTable.begin(), kTable.end(), [&](const Resource& r) { return same(r.name, name); });
    return row == kTable.end() ? SDK_BSP_RESOURCE_NOT_FOUND : row->id;
}

void set_presence(PresenceFlag flag, int value) noexcept { store(BSP_BOARD_HARDWARE_RESOURCES.*flag, value); }

void clear_presence() noexcept {
    for (PresenceFlag flag : {&BSP_BOARD_HARDWARE_RESOURCES_T::M_COM, &BSP_BOARD_HARDWARE_RESOURCES_T::EXT_COM,
                              &BSP_BOARD_HARDWARE_RESOURCES_T::M_ENV, &BSP_BOARD_HARDWARE_RESOURCES_T::EXT_ENV})
        set_presence(flag, 0);
}

void count_resources() noexcept {
    auto& flags = BSP_BOARD_HARDWARE_RESOURCES;
    int com = 4 + (present(flags.M_COM) ? 4 : 0) + (present(flags.EXT_COM) ? 4 : 0);
    bool env = present(flags.M_ENV);
    int ai = (env ? 8 : 0) + (present(flags.EXT_ENV) ? 8 : 0);
    int di = env ? 16 : 0, dout = env ? 4 : 0, ao = 0;

    auto& num = STR_SYSTEM_RESOURCES_NUM;
    store(num.COM, com);
    store(num.RESERVED, 0);
    store(num.AI, ai);
    store(num.DI, di);
    store(num.DO, dout);
    store(num.AO, ao);

    log_write(kLogSys, texts::kResourceCounts, com, ai, di, ao, dout);
    std::printf(texts::kResourceCounts, com, ai, di, ao, dout);
}

int resource_count(ResourceCount count) noexcept { return load(STR_SYSTEM_RESOURCES_NUM.*count); }

// The length limits only the clearing: the list is written whole, and the buffer must hold
// SDK_BSP_RESOURCE_LIST_SIZE bytes, as the header tells the host.
int resource_list(char* buffer, int length) noexcept {
    if (buffer && length > 0) std::memset(buffer, 0, static_cast<std::size_t>(length));
    count_resources();

    struct Section {
        const char* fmt;
        int count;
    };
    const Section sections[] = {
        {"\"Local/Uart/%d\"", resource_count(&STR_SYSTEM_RESOURCES_NUM_T::COM)},
        {"\"Local/AI/%d\"", resource_count(&STR_SYSTEM_RESOURCES_NUM_T::AI)},
        {"\"Local/DI/%d\"", resource_count(&STR_SYSTEM_RESOURCES_NUM_T::DI)},
        {"\"Local/DO/%d\"", resource_count(&STR_SYSTEM_RESOURCES_NUM_T::DO)},
        {"\"Local/Led/%d\"", kNumberedLeds.count},
    };
    ListText list;
    for (const Section& s : sections)
        for (int n = 1; n <= s.count; ++n) list.item(s.fmt, n);
    const char* text = list.close();

    if (buffer) std::memcpy(buffer, text, list.size() + 1);
    log_write(kLogSys, texts::kResourceList, text);
    return 0;
}

// The length is not looked at: the name is copied whole, terminator included.
int resource_alias(const char* name, char* alias) noexcept {
    if (!name) return 0;
    if (alias) std::strcpy(alias, name);
    log_write(kLogSys, texts::kResourceAlias, name);
    return 0;
}

}  // namespace bsp::base


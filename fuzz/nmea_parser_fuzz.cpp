// The receiver's sentence parser on arbitrary bytes, in batches as the read loop hands them over (up
// to its 4096-byte buffer): every sentence cut out lies within the batch, begins with "$" and fits
// the 200-byte sentence buffer; what it says is kept in a fix record of the target's own, whose
// satellite-signal text stays within its 1024 bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "gps/gps.h"
#include "gps/nmea.h"

namespace {
constexpr std::size_t kBuffer = 4096;
constexpr std::size_t kInputMax = 3 * kBuffer;  // large seeds: their start is enough
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace nmea = bsp::gps::nmea;
    size = std::min(size, kInputMax);
    static STR_GPS_INFO_T record;
    static std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE> text;
    for (std::size_t at = 0; at < size; at += kBuffer) {
        // Exactly the batch's bytes, so a read past its count is caught.
        const std::vector<char> batch(data + at, data + at + std::min(kBuffer, size - at));
        const std::string_view whole(batch.data(), batch.size());
        nmea::Cutter cutter(whole);
        for (nmea::Sentence s; cutter.next(s);) {
            if (s.text.data() < whole.data() || s.text.data() + s.text.size() > whole.data() + whole.size() ||
                s.text.front() != '$' || s.text.size() > nmea::kSentenceMax || s.star + 2 >= s.text.size())
                std::abort();
            bsp::gps::apply_reading(nmea::read_sentence(s), record);
        }
        bsp::gps::build_signal_text(record, text);
        if (strnlen(text.data(), text.size()) >= text.size()) std::abort();
    }
    return 0;
}

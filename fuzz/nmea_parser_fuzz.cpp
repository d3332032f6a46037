// BSP_GPS_READ on arbitrary bytes, handed over as the read loop does: batches of up to its
// 4096-byte buffer, each at least the 1025 bytes the parser takes (short ones padded with blanks).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk_bsp.h"

namespace {
constexpr std::size_t kBuffer = 4096, kBatchMin = 1025;
constexpr std::size_t kInputMax = 3 * kBuffer;  // large seeds: their start is enough
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The parser's traces would drown the fuzzer's own output (which goes to standard error).
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    size = std::min(size, kInputMax);
    for (std::size_t at = 0; at < size || at == 0; at += kBuffer) {
        std::size_t n = std::min(kBuffer, size - at);
        // Exactly the batch's bytes, so a read past its count is caught.
        std::vector<char> batch(data + at, data + at + n);
        batch.resize(std::max(n, kBatchMin), ' ');
        if (BSP_GPS_READ(batch.data(), static_cast<int>(batch.size())) != 0) std::abort();
        if (std::strlen(SET_GPS_BD_dB()) >= SDK_BSP_GPS_DB_TEXT_SIZE) std::abort();
        Read_GPS_dB_Flag();
    }
    return 0;
}

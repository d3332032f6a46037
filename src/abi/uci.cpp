// The exported names of the configuration reader.
#include "sdk_bsp.h"
#include "uci/uci.h"

namespace uci = bsp::uci;

extern "C" {

SDK_BSP_API char* sdkuci_get_ram(const char* query) noexcept { return uci::get_ram(query); }
// An unreadable file gives the empty result, like a missing option: never null.
SDK_BSP_API char* sdkuci_get_flash(const char* query) noexcept { return uci::get_flash(query); }
SDK_BSP_API void sdkuci_free(void) noexcept { uci::free_copies(); }
SDK_BSP_API char* sdkls(const char* path) noexcept { return uci::list_dir(path); }

}  // extern "C"

// sdk-shell: the configuration reader.
#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

const Registration uci_calls{
    {"sdkuci_get_ram", {"s", [](const Call& c) { return returns_text(c, sdkuci_get_ram(c.s(0))); }}},
    {"sdkuci_get_flash", {"s", [](const Call& c) { return returns_text(c, sdkuci_get_flash(c.s(0))); }}},
    {"sdkuci_free", {"", [](const Call&) { return none(sdkuci_free); }}},
    {"sdkls", {"s", [](const Call& c) { return returns_text(c, sdkls(c.s(0))); }}},
};

}  // namespace
}  // namespace shell

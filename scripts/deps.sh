# Sourced by the scripts: installs the Debian packages a step needs, only when missing.
# need_packages PKG...   installs the missing ones with apt-get (as root, or through sudo)
need_packages() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "installing:$missing"
    if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# What building the library, its example and the simulated box needs (the box's control server:
# cpp-httplib, found through pkg-config, and nlohmann-json; its Modbus meters: libmodbus).
BUILD_PACKAGES="cmake ninja-build g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev pkgconf libcpp-httplib-dev nlohmann-json3-dev libmodbus-dev"
# What the whole test suite needs on top: the log's archiver, the sanitizer and fuzzing compilers,
# the box's cross compiler and the emulator its unit tests run under, the ELF tools, and doxygen for
# the header's reference (which fails on anything left undocumented), and the browser the box's page
# is tested in: Debian's chromium, headless, driven by python3-selenium through chromedriver (and a
# font for its screenshot).
TEST_PACKAGES="zip unzip binutils clang libclang-rt-14-dev g++-arm-linux-gnueabihf qemu-user doxygen
chromium chromium-driver python3-selenium fonts-dejavu-core"
# What the install checks need: pkg-config, dpkg-shlibdeps and dpkg-architecture for the Debian
# packages, and file, which CPack runs on what it packages.
INSTALL_PACKAGES="pkgconf dpkg-dev file"

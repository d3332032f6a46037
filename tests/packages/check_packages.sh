#!/bin/sh
# check_packages.sh CMAKE BUILD WORK LIBDIR ARCHDIR DOCS SIM
# Makes the Debian packages of BUILD (cpack -G DEB) in WORK and checks each one's files (mode,
# owner, path), name, version, architecture (against the packaged library's machine) and
# dependencies. LIBDIR is where the library goes (/usr/lib, or /lib on the box), ARCHDIR where the
# pkg-config and CMake files go (/usr/lib); DOCS is "docs" when the build has the HTML reference,
# which is then built first and must be in the development package; SIM is "sim" when the build
# has fsu-sim (native builds), which the tools package then carries with its fsu-uci.
set -eu
cmake=$1 build=$2 work=$3 libdir=$4 archdir=$5 docs=$6 sim=$7
version=1.1.0
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
if [ "$docs" = docs ]; then
    "$cmake" --build "$build" --target docs > "$work/docs.log" 2>&1 || fail "docs: $(cat "$work/docs.log")"
fi
cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"

# The Debian architecture of the packaged library's machine code.
deb=$(ls "$work"/libsdk-bsp_${version}_*.deb 2>/dev/null) || fail "no libsdk-bsp package among: $(ls "$work")"
dpkg-deb -x "$deb" "$work/runtime"
header=$(readelf -h "$work/runtime$libdir/libsdk_bsp.so") || fail "no $libdir/libsdk_bsp.so in $deb"
case $(printf '%s\n' "$header" | sed -n 's/^ *Machine: *//p') in
*X86-64) arch=amd64 ;;
ARM) printf '%s\n' "$header" | grep -q 'hard-float ABI' && arch=armhf || arch=armel ;;
AArch64) arch=arm64 ;;
*) fail "unexpected machine in $deb: $header" ;;
esac

# The regular files of a package as "mode owner path", the build type in the CMake package's file
# name and the HTML reference's many pages left out.
files() {
    dpkg-deb -c "$1" | awk '/^-/ { print $1, $2, $6 }' |
        sed 's/sdk_bspConfig-[a-z]*\.cmake$/sdk_bspConfig-BUILDTYPE.cmake/' | grep -v '/html/' | sort
}

check() {  # check PACKAGE EXPECTED-FILES EXPECTED-DEPENDS (an extended regular expression)
    deb=$work/${1}_${version}_$arch.deb
    [ -f "$deb" ] || fail "no $deb among: $(ls "$work")"
    got=$(files "$deb")
    want=$(printf '%s\n' "$2" | sed '/^$/d' | sort)
    [ "$got" = "$want" ] || fail "$1 holds
$got
instead of
$want"
    for field in Package:$1 Version:$version Architecture:$arch; do
        value=$(dpkg-deb -f "$deb" "${field%%:*}")
        [ "$value" = "${field#*:}" ] || fail "$1: ${field%%:*} is $value, not ${field#*:}"
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    printf '%s\n' "$depends" | grep -Eqx "$3" || fail "$1 depends on '$depends'"
    echo "$1: $(wc -c < "$deb") bytes, depends on: $depends"
}

check libsdk-bsp "-rw-r--r-- root/root .$libdir/libsdk_bsp.so" 'libc6( \(>= [0-9.]+\))?'

check libsdk-bsp-dev "
-rw-r--r-- root/root ./usr/include/sdk_bsp.h
-rw-r--r-- root/root .$archdir/pkgconfig/sdk_bsp.pc
-rw-r--r-- root/root .$archdir/cmake/sdk_bsp/sdk_bspConfig.cmake
-rw-r--r-- root/root .$archdir/cmake/sdk_bsp/sdk_bspConfig-BUILDTYPE.cmake
-rw-r--r-- root/root .$archdir/cmake/sdk_bsp/sdk_bspConfigVersion.cmake" "libsdk-bsp \(= $version\)"
if [ "$docs" = docs ]; then
    dpkg-deb -c "$work/libsdk-bsp-dev_${version}_$arch.deb" | grep -q '\./usr/share/doc/sdk_bsp/html/index\.html$' ||
        fail "libsdk-bsp-dev holds no HTML reference"
fi

tools="-rwxr-xr-x root/root ./usr/bin/sdk-shell"
if [ "$sim" = sim ]; then
    tools="$tools
-rwxr-xr-x root/root ./usr/bin/fsu-sim
-rwxr-xr-x root/root ./usr/libexec/sdk_bsp/fsu-uci"
fi
check sdk-bsp-tools "$tools" "libsdk-bsp \(= $version\), .*"

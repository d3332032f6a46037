#!/bin/sh
# run.sh CMAKE BUILD SOURCE WORK
# Installs the build into a DESTDIR stage (prefix /usr), builds the host in SOURCE against the stage
# once with find_package and once with pkg-config, and runs each against the installed fsu-sim.
set -eu
cmake=$1 build=$2 source=$3 work=$4
stage=$work/stage box=$work/box
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
DESTDIR=$stage "$cmake" --install "$build" --prefix /usr > "$work/install.log"

"$stage/usr/bin/fsu-sim" "$box" > "$work/box.trace" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
deadline=100  # tenths of a second
until [ -e "$box/dev/ttymxc7" ]; do
    deadline=$((deadline - 1))
    [ $deadline -gt 0 ] || fail "the installed fsu-sim did not build its box: $(cat "$work/box.trace")"
    sleep 0.1
done
# The installed box runs the installed fsu-uci, and has the board set-up's lines exported.
grep -q "$stage/usr/libexec/sdk_bsp/fsu-uci" "$box/bin/uci" || fail "bin/uci runs another fsu-uci: $(cat "$box/bin/uci")"
"$box/bin/uci" get vqm.sys.pcas > /dev/null || fail "the installed fsu-uci does not answer"
for line in 0 1 4 12 18; do
    [ -f "$box/sys/class/gpio/gpio$line/value" ] || fail "gpio$line is not exported when the box starts"
done

for way in find_package pkg-config; do
    if [ $way = pkg-config ]; then with_pc=ON; else with_pc=OFF; fi
    PKG_CONFIG_PATH=$stage/usr/lib/pkgconfig "$cmake" -S "$source" -B "$work/$way" -G Ninja \
        -DCMAKE_PREFIX_PATH="$stage/usr" -DWITH_PKG_CONFIG=$with_pc > "$work/$way.configure" ||
        fail "$way: configure: $(cat "$work/$way.configure")"
    "$cmake" --build "$work/$way" > "$work/$way.build" || fail "$way: build: $(cat "$work/$way.build")"
    host=$work/$way/consumer
    loaded=$(LD_TRACE_LOADED_OBJECTS=1 "$host" | sed -n 's/.*libsdk_bsp\.so => \([^ ]*\).*/\1/p')
    [ "$loaded" = "$stage/usr/lib/libsdk_bsp.so" ] || fail "$way: the host loads '$loaded', not the installed library"
    SDK_BSP_ROOT=$box PATH=$box/bin:$PATH SDK_BSP_CMDLOG=$box/cmdlog "$host" > "$work/$way.out" ||
        fail "$way: the host failed (output in $work/$way.out)"
    ! grep -a "Failed" "$work/$way.out" || fail "$way: the host printed failures"
    echo "$way: built and ran against the installed library and fsu-sim"
done

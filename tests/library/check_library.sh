#!/bin/sh
# check_library.sh exports LIB LIST   the library defines exactly the dynamic symbols in LIST
# check_library.sh needed LIB         the library is named libsdk_bsp.so and needs only libc (and
#                                     the thread library, on C libraries that keep it apart)
# check_library.sh runtime LIB        the C++ exception runtime (throw, unwinder, terminate handler,
#                                     name demangler) is not linked in: it is most of a library's size
# check_library.sh bound LIB          no dynamic relocation names a function the library itself
#                                     exports: none of its own calls can be taken by a host
set -eu
what=$1 lib=$2
case $what in
exports)
    nm -D --defined-only "$lib" | awk '{print $3}' | sort > "$lib.exports"
    grep -v '^#' "$3" | sed '/^$/d' | sort > "$lib.expected"
    if ! diff -u "$lib.expected" "$lib.exports"; then
        echo "exported symbols differ from $3 (- missing, + unexpected)"
        exit 1
    fi
    echo "$(wc -l < "$lib.exports") symbols, as listed"
    ;;
needed)
    readelf -d "$lib" > "$lib.dynamic"
    soname=$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' "$lib.dynamic")
    [ "$soname" = libsdk_bsp.so ] || { echo "SONAME is '$soname', not libsdk_bsp.so"; exit 1; }
    [ "$(basename "$lib")" = libsdk_bsp.so ] || { echo "file name is $(basename "$lib")"; exit 1; }
    bad=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$lib.dynamic" |
          grep -v -E '^(libc\.so\.6|libpthread\.so\.0|ld-linux[-a-z0-9_.]*\.so\.[0-9]+)$' || true)
    [ -z "$bad" ] || { echo "unexpected NEEDED entries: $bad"; exit 1; }
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/needs \1/p' "$lib.dynamic"
    ;;
runtime)
    found=$(nm "$lib" | awk '{print $NF}' |
            grep -E '^(__cxa_throw|__cxa_demangle|__gxx_personality_v0|_Unwind_RaiseException|__cxa_guard_acquire)$' || true)
    [ -z "$found" ] || { echo "the C++ exception runtime is linked in:" $found; exit 1; }
    echo "no exception runtime: $(wc -c < "$lib") bytes unstripped"
    ;;
bound)
    readelf -W --dyn-syms "$lib" | awk '$4 == "FUNC" && $7 != "UND" { sub(/@.*/, "", $8); print $8 }' |
        sort -u > "$lib.functions"
    readelf -W -r "$lib" | awk 'NF >= 5 { sub(/@.*/, "", $5); print $3, $5 }' > "$lib.relocations"
    found=$(awk 'NR == FNR { own[$1] = 1; next } ($2 in own)' "$lib.functions" "$lib.relocations")
    [ -z "$found" ] || { echo "relocations against the library's own functions:"; echo "$found"; exit 1; }
    echo "no relocation against its $(wc -l < "$lib.functions") exported functions"
    ;;
*) echo "unknown check $what"; exit 2 ;;
esac

# cmake -DLIBRARY=<libsdk_bsp.so> -DSTRIP=<strip> -DREADELF=<readelf> -P library_size.cmake
#
# Prints what the library costs the box: its size once stripped (as it would sit in /lib) and its
# static RAM, the .data and .bss sections every process that loads it gets.
foreach(var LIBRARY STRIP READELF)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "library_size.cmake needs -D${var}=...")
  endif()
endforeach()

set(stripped ${LIBRARY}.stripped)
execute_process(COMMAND ${STRIP} -o ${stripped} ${LIBRARY} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${STRIP} failed on ${LIBRARY}")
endif()
file(SIZE ${stripped} bytes)
file(REMOVE ${stripped})

execute_process(COMMAND ${READELF} -S -W ${LIBRARY} OUTPUT_VARIABLE sections)
foreach(section data bss)
  # [Nr] Name Type Address Off Size ...: the size is the third number after the name.
  if(NOT sections MATCHES "\\] \\.${section} +[A-Z]+ +[0-9a-f]+ [0-9a-f]+ ([0-9a-f]+)")
    message(FATAL_ERROR "no .${section} section in ${LIBRARY}")
  endif()
  math(EXPR ${section} "0x${CMAKE_MATCH_1}")
endforeach()
math(EXPR ram "${data} + ${bss}")

function(kib out value)
  math(EXPR tenths "(${value} * 10 + 512) / 1024")
  math(EXPR whole "${tenths} / 10")
  math(EXPR tenth "${tenths} % 10")
  set(${out} "${whole}.${tenth} KiB" PARENT_SCOPE)
endfunction()
kib(bytes_kib ${bytes})
kib(ram_kib ${ram})
message("libsdk_bsp.so stripped: ${bytes} bytes (${bytes_kib}); "
        "static RAM: ${ram} bytes (${ram_kib}: .data ${data}, .bss ${bss})")

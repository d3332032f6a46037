# cmake -DLIBRARY=<libsdk_bsp.so> -DSTAGE=<scratch dir> -DOUTPUT=<CAIRN_KIT_SDK.tar.gz> -P update_package.cmake
#
# Writes the update package: a gzip-compressed tar archive of exactly two members,
#   tmp/sdk/file.md5        the library's MD5, 32 lowercase hexadecimal digits (as md5sum prints it)
#   tmp/sdk/libsdk_bsp.so   the library
# The box unpacks it with tar -xf from its root directory, so the members land in /tmp/sdk. They
# are stored owned by root (0:0) with a fixed time, so one library always gives the same archive.
foreach(var LIBRARY STAGE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "update_package.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/tmp/sdk)
file(COPY_FILE ${LIBRARY} ${STAGE}/tmp/sdk/libsdk_bsp.so)
file(MD5 ${STAGE}/tmp/sdk/libsdk_bsp.so hash)
file(WRITE ${STAGE}/tmp/sdk/file.md5 "${hash}")

execute_process(
  COMMAND tar --format=ustar --owner=0 --group=0 --numeric-owner --mtime=@0 -C ${STAGE} -cf -
          tmp/sdk/file.md5 tmp/sdk/libsdk_bsp.so
  COMMAND gzip -n -9
  OUTPUT_FILE ${OUTPUT}.part
  RESULTS_VARIABLE results)
if(NOT results STREQUAL "0;0")
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "tar | gzip failed: ${results}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})

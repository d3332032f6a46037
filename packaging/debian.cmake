# Debian packages, one per install component (cpack -G DEB --config <build>/CPackConfig.cmake):
#   libsdk-bsp      runtime      the library
#   libsdk-bsp-dev  development  header, pkg-config and CMake package files, HTML reference
#   sdk-bsp-tools   tools        sdk-shell; fsu-sim and its fsu-uci where they are built (natively)
# A native build works out the dependencies with dpkg-shlibdeps; a cross build (the box's armhf
# packages) states them, since the build machine has no target C library registered with dpkg.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sdk-bsp)
set(CPACK_PACKAGE_VENDOR "libsdk_bsp")
set(CPACK_PACKAGE_CONTACT "libsdk_bsp maintainers <libsdk-bsp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "board-support library of the field supervision unit (FSU)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # debugging information stays in the build tree
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)  # development and tools need the library, this version
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)       # <package>_<version>_<architecture>.deb

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libsdk-bsp)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libsdk-bsp-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME sdk-bsp-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)

if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -qDEB_HOST_ARCH -t ${CMAKE_LIBRARY_ARCHITECTURE}
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
  # sdk-shell needs the library of this build, which no installed package provides yet.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})  # where libsdk_bsp.so is built
endif()

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Library"
  DESCRIPTION "libsdk_bsp.so, the board-support library the monitoring application (the host) loads.")
cpack_add_component(development DISPLAY_NAME "Development files" DEPENDS runtime
  DESCRIPTION "The C header sdk_bsp.h, pkg-config and CMake package files (sdk_bsp::sdk_bsp), the HTML reference.")
cpack_add_component(tools DISPLAY_NAME "Tools" DEPENDS runtime
  DESCRIPTION "sdk-shell (calls the library from text lines) and, on a PC, fsu-sim (a simulated box).")

# The packages' files, names, versions, architecture and dependencies (plain builds: a sanitizer
# build links its runtimes in). The check builds the HTML reference first when there is one.
if(SDK_BSP_TESTS AND NOT SDK_BSP_SANITIZE)
  if(IS_ABSOLUTE "${SDK_BSP_LIBRARY_DIR}")
    set(libdir ${SDK_BSP_LIBRARY_DIR})
  else()
    set(libdir ${CPACK_PACKAGING_INSTALL_PREFIX}/${SDK_BSP_LIBRARY_DIR})
  endif()
  if(TARGET docs)
    set(docs docs)
  else()
    set(docs nodocs)
  endif()
  if(TARGET fsu-sim)
    set(sim sim)
  else()
    set(sim nosim)
  endif()
  add_test(NAME Install.DebianPackages
           COMMAND ${PROJECT_SOURCE_DIR}/tests/packages/check_packages.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}
                   ${PROJECT_BINARY_DIR}/tests/packages ${libdir} ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}
                   ${docs} ${sim})
  set_tests_properties(Install.DebianPackages PROPERTIES RESOURCE_LOCK sdk_bsp_install)
endif()

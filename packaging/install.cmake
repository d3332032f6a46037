# Install rules, in three components (cmake --install <build> --component <name>):
#   runtime      libsdk_bsp.so: file name and SONAME without a version, as the box loads it
#   development  sdk_bsp.h (with its version macros), sdk_bsp.pc, the CMake package sdk_bsp
#                (imported target sdk_bsp::sdk_bsp) and the HTML reference
#   tools        sdk-shell, and (native builds) fsu-sim with the fsu-uci its box runs
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SDK_BSP_LIBRARY_DIR ${CMAKE_INSTALL_LIBDIR} CACHE STRING
    "Where libsdk_bsp.so is installed: relative to the prefix, or absolute (the box's /lib)")
set(SDK_BSP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/sdk_bsp)
set(SDK_BSP_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(SDK_BSP_HELPER_DIR ${CMAKE_INSTALL_LIBEXECDIR}/sdk_bsp)  # programs that only fsu-sim runs
# Where the docs target (when the build has one) writes the HTML reference.
set(SDK_BSP_REFERENCE_DIR ${PROJECT_BINARY_DIR}/docs/html)

# ---- runtime
install(TARGETS sdk_bsp EXPORT sdk_bspTargets
        LIBRARY DESTINATION ${SDK_BSP_LIBRARY_DIR} COMPONENT runtime
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ  # a library, not a program
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# ---- development
install(FILES ${SDK_BSP_INCLUDE_DIR}/sdk_bsp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The CMake package: the exported target is the whole configuration (the library needs nothing the
# host must find), plus a version file that accepts requests of the same major version.
install(EXPORT sdk_bspTargets NAMESPACE sdk_bsp:: FILE sdk_bspConfig.cmake
        DESTINATION ${SDK_BSP_CMAKE_DIR} COMPONENT development)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sdk_bspConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sdk_bspConfigVersion.cmake DESTINATION ${SDK_BSP_CMAKE_DIR} COMPONENT development)

# sdk_bsp.pc finds its prefix from its own place (${pcfiledir}), so one file serves an install under
# any prefix, a DESTDIR stage and the packages alike.
function(sdk_bsp_pc_dir dir out)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
file(RELATIVE_PATH pc_up /prefix/${SDK_BSP_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" pc_up "${pc_up}")
set(pc_prefix "\${pcfiledir}/${pc_up}")
sdk_bsp_pc_dir("${SDK_BSP_LIBRARY_DIR}" pc_libdir)
sdk_bsp_pc_dir("${CMAKE_INSTALL_INCLUDEDIR}" pc_includedir)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk_bsp.pc.in ${PROJECT_BINARY_DIR}/sdk_bsp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/sdk_bsp.pc DESTINATION ${SDK_BSP_PKGCONFIG_DIR} COMPONENT development)

# The HTML reference, when the build has a docs target (cmake --build <build> --target docs before
# installing): installed with the header.
if(TARGET docs)
  install(DIRECTORY ${SDK_BSP_REFERENCE_DIR}/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/html COMPONENT development
          OPTIONAL)
endif()

# ---- tools (fsu-sim only where it is built: natively)
install(TARGETS sdk-shell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
if(TARGET fsu-sim)
  install(TARGETS fsu-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(TARGETS fsu-uci RUNTIME DESTINATION ${SDK_BSP_HELPER_DIR} COMPONENT tools)
  # An installed fsu-sim runs the fsu-uci installed with it, found from its own place.
  file(RELATIVE_PATH uci_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${SDK_BSP_HELPER_DIR}/fsu-uci)
  target_compile_definitions(fsu-sim PRIVATE SIM_INSTALLED_UCI="${uci_from_bin}")
endif()
# An installed sdk-shell loads the library installed with it (a system directory needs no such path).
if(NOT IS_ABSOLUTE "${SDK_BSP_LIBRARY_DIR}")
  file(RELATIVE_PATH lib_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${SDK_BSP_LIBRARY_DIR})
  set_target_properties(sdk-shell PROPERTIES INSTALL_RPATH "$ORIGIN/${lib_from_bin}")
endif()

# A host built outside this tree against a DESTDIR install, with find_package and with pkg-config,
# run against the installed fsu-sim. Plain native builds only: a sanitizer build links its
# runtimes in, and a cross build's programs do not run here.
if(SDK_BSP_TESTS AND NOT SDK_BSP_SANITIZE AND NOT CMAKE_CROSSCOMPILING AND TARGET fsu-sim)
  add_test(NAME Install.HostBuildsAndRunsAgainstInstall
           COMMAND ${PROJECT_SOURCE_DIR}/tests/consumer/run.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR}/tests/consumer ${PROJECT_BINARY_DIR}/tests/consumer)
  set_tests_properties(Install.HostBuildsAndRunsAgainstInstall PROPERTIES RESOURCE_LOCK sdk_bsp_install)
endif()

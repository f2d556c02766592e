# What `cmake --install` puts under the prefix, and `./run package` packs
# (CPack: a Debian package with computed dependencies, and a .tar.gz):
#   lib/strevon/libstrevon.so      the plug-in a recorder loads
#   include/strevon.h              what a host compiles against
#   lib/cmake/Strevon/             find_package(Strevon): Strevon::headers,
#                                  Strevon::plugin and Strevon_PLUGIN (its path)
#   lib/pkgconfig/strevon.pc       the same for pkg-config (variable "plugin")
#   bin/strevon-host, bin/strevon-gateway-sim   the host tool and the simulator
# Every path in the configuration files is relative to where they lie, so an
# unpacked package (dpkg -x into any directory) works like an installed one.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(STREVON_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/strevon)
set(STREVON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Strevon)

if(TARGET strevon)
  install(TARGETS strevon LIBRARY DESTINATION ${STREVON_PLUGIN_DIR} COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/strevon.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
foreach(tool strevon-host strevon-gateway-sim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/StrevonConfig.cmake.in
  ${PROJECT_BINARY_DIR}/StrevonConfig.cmake
  INSTALL_DESTINATION ${STREVON_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR STREVON_PLUGIN_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/StrevonConfigVersion.cmake
  COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/StrevonConfig.cmake ${PROJECT_BINARY_DIR}/StrevonConfigVersion.cmake
  DESTINATION ${STREVON_CMAKE_DIR} COMPONENT dev)

file(RELATIVE_PATH STREVON_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
  ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" STREVON_PC_TO_PREFIX "${STREVON_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/strevon.pc.in ${PROJECT_BINARY_DIR}/strevon.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/strevon.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# The installed strevon-host finds the plug-in beside it by this path.
file(RELATIVE_PATH STREVON_BIN_TO_PLUGIN ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${STREVON_PLUGIN_DIR}/libstrevon.so)
if(TARGET strevon-host)
  target_compile_definitions(strevon-host PRIVATE STREVON_INSTALLED_LIBRARY="${STREVON_BIN_TO_PLUGIN}")
endif()

set(CPACK_PACKAGE_NAME strevon)
set(CPACK_PACKAGE_VENDOR "Strevon")
set(CPACK_PACKAGE_CONTACT "Strevon developers <strevon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "IP capture driver plug-in for video recording servers, with its host tool")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_PACKAGE_FILE_NAME strevon-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # strevon_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_STRIP_FILES ON)  # debug information stays in the build tree
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/StrevonCPackOptions.cmake)
include(CPack)

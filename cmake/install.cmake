# What `cmake --install` puts where, and the Debian packages `cpack -G DEB` makes of it:
#   libkavel1     the shared library (component runtime)
#   libkavel-dev  headers, libkavel.so and libkavel.a, kavel.pc, the CMake package (component dev)
#   kavel-tools   kavel, plugin-host and the plug-in module KAVEL.8bi (component tools)
# Integrations (GIMP, gdk-pixbuf, Qt, GDAL, Python) install with components of their own.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KAVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kavel)

install(FILES include/kavel/kavel.h include/kavel/kavel.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kavel COMPONENT dev)

set_target_properties(kavel_shared PROPERTIES EXPORT_NAME kavel)
set_target_properties(kavel_static PROPERTIES EXPORT_NAME kavel_static)
target_include_directories(kavel_shared INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(kavel_static INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kavel_shared EXPORT kavelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS kavel_static EXPORT kavelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT kavelTargets NAMESPACE kavel:: DESTINATION ${KAVEL_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kavelConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/kavelConfig.cmake
                              INSTALL_DESTINATION ${KAVEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kavelConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/kavelConfigVersion.cmake
        DESTINATION ${KAVEL_CMAKE_DIR} COMPONENT dev)

# pkg-config: absolute directories, whatever the prefix's form.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KAVEL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(KAVEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KAVEL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(KAVEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/kavel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kavel.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavel.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# The tools, and the plug-in module with its host when they are built.
if(TARGET kavel)
  install(TARGETS kavel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
if(TARGET plugin-host)
  install(TARGETS plugin-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
if(TARGET kavel_module)
  install(TARGETS kavel_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kavel/plugins
          COMPONENT tools)
endif()

# Debian packages.
set(CPACK_PACKAGE_NAME kavel)
set(CPACK_PACKAGE_VENDOR "The Kavel developers")
set(CPACK_PACKAGE_CONTACT "The Kavel developers <kavel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kavel images: any window at any scale")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkavel1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Kavel image decoder library\n The shared library libkavel.so.1: open Kavel images from files, memory or any reader and decode any window at any scale.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkavel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libkavel1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Kavel image decoder library: development files\n Headers (C and C++), the static library, pkg-config and CMake package files.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kavel-tools)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "Kavel image tools\n kavel info, decode and encode, and the plug-in module KAVEL.8bi with its host.")
# Several components run dpkg-shlibdeps against the built libkavel.so.1.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/library)
include(CPack)

# Install rules: the shared library (component "runtime"), the headers, the
# CMake package and the pkg-config file (component "dev"), the operators' tools
# (component "tools"). The components are the Debian packages of
# cmake/krerrlogPackaging.cmake. The library and its package files share one
# library folder, CMAKE_INSTALL_LIBDIR (lib/<multiarch> for a /usr prefix on Debian).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Anything else a host's developer needs joins the development package by
# installing with COMPONENT ${KRERRLOG_DEV_COMPONENT} (the Java bridge's jar does).
set(KRERRLOG_DEV_COMPONENT dev)
# The runtime package is named after the SONAME, as Debian names library packages.
set(KRERRLOG_RUNTIME_PACKAGE libkrerrlog${PROJECT_VERSION_MAJOR})
set(KRERRLOG_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/krerrlog)

install(TARGETS krerrlog EXPORT krerrlogTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT ${KRERRLOG_DEV_COMPONENT}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the public headers (cmake/krerrlogSources.cmake); the internal ones
# declare hidden symbols a host could not link against.
foreach(header ${KRERRLOG_PUBLIC_HEADERS})
  get_filename_component(header_dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/common/krerrlog/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/krerrlog/${header_dir} COMPONENT ${KRERRLOG_DEV_COMPONENT})
endforeach()

install(EXPORT krerrlogTargets NAMESPACE krerrlog::
  DESTINATION ${KRERRLOG_CMAKE_INSTALL_DIR} COMPONENT ${KRERRLOG_DEV_COMPONENT})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/krerrlogConfig.cmake.in
  ${PROJECT_BINARY_DIR}/krerrlogConfig.cmake
  INSTALL_DESTINATION ${KRERRLOG_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/krerrlogConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/krerrlogConfig.cmake ${PROJECT_BINARY_DIR}/krerrlogConfigVersion.cmake
  DESTINATION ${KRERRLOG_CMAKE_INSTALL_DIR} COMPONENT ${KRERRLOG_DEV_COMPONENT})

# The pkg-config file finds its prefix from where it is installed, so the
# installed tree can be moved (a package extracted into a scratch root).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KRERRLOG_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(KRERRLOG_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  set(KRERRLOG_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  set(KRERRLOG_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KRERRLOG_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(KRERRLOG_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/krerrlog.pc.in ${PROJECT_BINARY_DIR}/krerrlog.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/krerrlog.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${KRERRLOG_DEV_COMPONENT})

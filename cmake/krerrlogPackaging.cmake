# Debian packages from the install components (cmake/krerrlogInstall.cmake):
#   libkrerrlog<major>  runtime: the shared library under its SONAME
#   libkrerrlog-dev     dev: headers, the .so link, CMake package, pkg-config
#                       file (and whatever else installs with COMPONENT dev)
#   krerrlog-tools      tools: krtracecheck
# Built with `cpack -G DEB` in the build folder. Configure with
# -DCMAKE_INSTALL_PREFIX=/usr for Debian's multiarch library folder
# (./build.sh package does).
set(CPACK_PACKAGE_NAME krerrlog)
set(CPACK_PACKAGE_VENDOR "Krynex")
set(CPACK_PACKAGE_CONTACT "Krynex access-management suite <krerrlog@krynex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Error, audit and trace logging library of the access-management suite")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL runtime ${KRERRLOG_DEV_COMPONENT})
if(KRERRLOG_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KRERRLOG_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Error, audit and trace logging library (shared library)")
# dpkg-shlibdeps works out the C and C++ runtime versions the library needs.
find_program(KRERRLOG_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KRERRLOG_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkrerrlog-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Error, audit and trace logging library (development files)")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${KRERRLOG_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME krerrlog-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Tools for operators of hosts of the logging library (krtracecheck)")
# krtracecheck carries the library's code; it loads the component libraries
# that hosts install, as a host's logger does.

include(CPack)

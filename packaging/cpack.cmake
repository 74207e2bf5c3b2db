# The Debian package, built by scripts/build-package.sh: a build configured for /usr, without
# tests and with Debian's build flags, then `cpack`. Its dependencies come from the shared libraries
# the binaries really link (dpkg-shlibdeps), plus what the app loads or runs, which dpkg-shlibdeps
# cannot see: lsof, and Qt's SVG plugins that draw the icons.
# CPack rather than a debian/ directory with debhelper: the package holds exactly what the install
# rules install (the same rules as `cmake --install`, so both agree on every path), and it needs
# nothing beyond dpkg-dev, which the build has anyway; what debhelper would add (build flags,
# stripping, changelog and copyright) is done here and in scripts/build-package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quaystone)
set(CPACK_PACKAGE_VENDOR "The Quaystone developers")
set(CPACK_PACKAGE_CONTACT "The Quaystone developers <quaystone@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray utility that lists and stops local TCP listeners")
set(CPACK_PACKAGE_DESCRIPTION "Quaystone sits in the system tray and lists the local processes listening
on TCP ports 3000 to 9999, with their process names and working folders, and
stops one with a click. quaystone --list prints the same list in a terminal.")
# The version and the package's revision come from the changelog's latest entry, which must be
# for this version of the project.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _latest LIMIT_COUNT 1)
if(NOT _latest MATCHES "^quaystone \\(${PROJECT_VERSION}-([0-9]+)\\) ")
    message(FATAL_ERROR "packaging/changelog: the latest entry is not for version ${PROJECT_VERSION}: ${_latest}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})
# The paths compiled into the app and written into the polkit action are the configured prefix's.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Stripped as dh_strip does: the debug information and the compiler's notes go.
set(CPACK_QUAYSTONE_STRIP "${CMAKE_STRIP}")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/strip-binaries.cmake)
# Only a build for /usr without the tests' hooks makes a package; cpack says so otherwise.
set(CPACK_QUAYSTONE_RELEASE_BUILD OFF)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT QUAYSTONE_BUILD_TESTS)
    set(CPACK_QUAYSTONE_RELEASE_BUILD ON)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-release-only.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/quaystone/quaystone)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lsof, libqt6svg6")
# Qt's platform plugin for Wayland sessions (X11's comes with libqt6gui6), and pkexec for the
# stop as administrator.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, pkexec")
set(CPACK_SOURCE_GENERATOR "")

include(CPack)

# The Debian package: `cpack` in the build folder writes quaystone_<version>_amd64.deb. Its
# dependencies come from the shared libraries the binary really links (dpkg-shlibdeps), plus what it
# loads or runs, which dpkg-shlibdeps cannot see: lsof, and Qt's SVG plugins that draw the icons.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quaystone)
set(CPACK_PACKAGE_VENDOR "The Quaystone developers")
set(CPACK_PACKAGE_CONTACT "The Quaystone developers <quaystone@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray utility that lists and stops local TCP listeners")
set(CPACK_PACKAGE_DESCRIPTION "Quaystone sits in the system tray and lists the local processes listening
on TCP ports 3000 to 9999, with their process names and working folders, and
stops one with a click. quaystone --list prints the same list in a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/quaystone/quaystone)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lsof, libqt6svg6")
# Qt's platform plugin for Wayland sessions (X11's comes with libqt6gui6), and pkexec for the
# stop as administrator.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, pkexec")
set(CPACK_SOURCE_GENERATOR "")

include(CPack)

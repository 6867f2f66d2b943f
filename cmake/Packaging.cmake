# The Debian package, built by CPack from the install rules (scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Zorv developers")
set(CPACK_PACKAGE_CONTACT "The Zorv developers <zorv-devel@lists.sourceforge.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small and fast Internet Relay Chat client")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Zorv is a small desktop client for Internet Relay Chat (IRC) on Qt 6.\n\
It connects to one server at a time; every channel and private conversation\n\
has its own window inside the main window, with a tab bar to switch between\n\
them and a window that lists the server's channels. irc:// links open in it.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zorv.sourceforge.net/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links come from dpkg-shlibdeps; Qt's platform
# plugins (the window system connection) are loaded at run time, so their
# package is named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)

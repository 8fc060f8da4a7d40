# A Debian package of the Linux program: `cpack -G DEB` in the build tree.
set(CPACK_PACKAGE_NAME "vesk")
set(CPACK_PACKAGE_VENDOR "Vesk")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop input recorder and player")
set(CPACK_PACKAGE_CONTACT "Vesk maintainers <maintainers@vesk.invalid>")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Replay through the desktop's remote input on Wayland sessions (loaded at run time).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libei1")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
include(CPack)

# A Debian package of what `cmake --install` puts under /usr: `cpack -G DEB` in the build tree,
# or scripts/package.sh. The programs and the Designer plugin get their library dependencies from
# dpkg-shlibdeps (package dpkg-dev), so the package installs on any Debian 12 with apt-get.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "receiver for narrow-band mechanically scanned television")
# Lines of the extended description stay under 80 characters, as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Corvane turns the audio of a radio receiver into a live picture of a\n"
    "narrow-band television (NBTV) transmission, from a PulseAudio or PipeWire\n"
    "recording source or a recording. It comes with corvane-decode, which decodes\n"
    "recordings into pictures and videos, corvane-testcard, a test transmitter,\n"
    "and a Qt Designer plugin with its controls.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Corvane developers <corvane@corvane.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

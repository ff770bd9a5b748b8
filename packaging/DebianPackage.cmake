# The Debian package of what the install rules put down: cpack -G DEB in the build directory
# gives kabinex_VERSION_ARCH.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kabinex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KABINEX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher for the MAVE arcade emulator")
set(CPACK_PACKAGE_DESCRIPTION [[
Kabinex lists the games of a catalogue, shows the selected game's
screenshot (GIF, PNG or JPEG) and starts the MAVE emulator with the
options checked in its window. A game kept only as a ZIP archive is
unpacked for its launch, and what was unpacked is removed once the game
has ended. The catalogue can be filled from the archives and game
directories found on disk.

Everything Kabinex knows stands in one plain settings file, kabinex.ini.
Its window is in Spanish and works with the keyboard alone.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KABINEX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KABINEX_HOMEPAGE})
# The libraries come from dpkg-shlibdeps; unzip is run as a program, so no library names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS unzip)
# The fixed-size windows are laid out for these faces; without them texts are clipped.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
include(CPack)

# The Debian package, made by CPack's DEB generator: `cmake --build build/linux-release
# --target package` (scripts/build-package.sh) gives pellvane-server_<version>-1_amd64.deb.
# The linux-release preset sets the prefix /usr and the udev folder /lib/udev/rules.d.
include(GNUInstallDirs)

set(PELLVANE_DEBIAN_FILES ${PROJECT_SOURCE_DIR}/data/debian)
set(PELLVANE_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pellvane-server)

# Debian wants the packaging's changelog gzipped (no name or time stamp) and the copyright
# file plain, both in the package's own doc folder.
pellvane_gzip_file(${PELLVANE_DEBIAN_FILES}/changelog
  ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_target(pellvane_debian_changelog ALL
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${PELLVANE_DEBIAN_FILES}/copyright
  ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
  DESTINATION ${PELLVANE_PACKAGE_DOC_DIR} EXCLUDE_FROM_ALL COMPONENT debian)
# The two lintian warnings that do not apply, each with its reason.
install(FILES ${PELLVANE_DEBIAN_FILES}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME pellvane-server
  EXCLUDE_FROM_ALL COMPONENT debian)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellvane-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The udev rule goes to /lib, outside the prefix: installing with DESTDIR keeps absolute
# destinations inside the package's tree.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "The Pellvane Server developers <pellvane-server@packages.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lets a phone or tablet be a keyboard and gamepad for this PC")
# The extended description; CPack puts the summary above it and indents it for the control
# file, an empty line becoming " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pellvane Server lets a pad app on a phone or tablet act as a keyboard and a
gamepad for this computer. It announces itself on the local network over
DNS-SD (avahi), asks the person at the computer before a device may connect,
types the keys the pad sends on a virtual keyboard (uinput) and drives a
virtual HID game controller (uhid) that games see.

On a desktop it lives in the tray and asks through notifications; elsewhere it
is a terminal program. The package holds the program, the pellvane-pad client
tool for trying and scripting it, the pellvane-vpad virtual controller, a udev
rule that lets the person signed in at the computer use the virtual devices
without root, and an applications-menu entry.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time with dlopen, so dpkg-shlibdeps cannot see them: the DNS-SD library and
# the responder behind it (without them no pad finds the services), libX11 for the
# application in front, libsystemd for the tray and notifications on the session bus, and a
# dialog program for desktops whose notifications have no buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libavahi-compat-libdnssd1, avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libx11-6, libsystemd0")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity | kdialog")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PELLVANE_DEBIAN_FILES}/postinst ${PELLVANE_DEBIAN_FILES}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The program's files and the Debian documentation; not the test and benchmark programs.
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

include(CPack)

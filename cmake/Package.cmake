# The Debian package: `cpack` in the build folder writes mailvane_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mailvane)
set(CPACK_PACKAGE_VENDOR "Larkwell")
set(CPACK_PACKAGE_CONTACT "Larkwell Mailvane maintainers <mailvane@larkwell.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert a Zimbra mailbox export into an Outlook .pst file")
# CPack indents these lines and turns the empty one into the " ." of a control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Mailvane reads a Zimbra mailbox export, its archive or the extracted folder,
and writes one new Outlook personal folders file (.pst): mail in a mirrored
folder tree, contacts, appointments, tasks and notebook pages in the store's
default folders, with a report of every file. It writes the PST itself;
neither Outlook nor Windows is needed.

The package holds the command line mailvane, the desktop window mailvane-gui
and mailvane-pstcheck, a strict checker of PST files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://larkwell.example/mailvane/")
set(CPACK_STRIP_FILES ON)
# Libraries from the programs' own links; Qt loads its display plugins at run time, so
# no link names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(MAILVANE_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Packs the programs as built; without this, cpack would first build every test as well.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)

# The Debian package (make package): the program, its menu entry and icon from app/, and the
# copyright and changelog Debian asks of every package. The version is the project's.
if(NOT UNIX OR APPLE)
    return()
endif()

include(GNUInstallDirs)
set(QUELVANE_PACKAGE quelvane-monitor)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${QUELVANE_PACKAGE})
string(TIMESTAMP QUELVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/${QUELVANE_PACKAGE}.1 ${CMAKE_BINARY_DIR}/packaging/${QUELVANE_PACKAGE}.1 COPYONLY)
# Compressed without a time stamp, so the same sources give the same package.
foreach(file changelog ${QUELVANE_PACKAGE}.1)
    set(source ${CMAKE_BINARY_DIR}/packaging/${file})
    add_custom_command(OUTPUT ${source}.gz COMMAND gzip -9nfk ${source} DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${source}.gz)
endforeach()
add_custom_target(package_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir})
install(FILES ${CMAKE_BINARY_DIR}/packaging/${QUELVANE_PACKAGE}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUELVANE_PACKAGE})
set(CPACK_PACKAGE_VENDOR "Quelvane SAS")
set(CPACK_PACKAGE_CONTACT "Quelvane SAS <monitor@quelvane.example>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tray monitor for video-surveillance recording servers
Quelvane Monitor watches a list of video-surveillance recording servers over
their HTTP JSON API from the desktop's tray. It shows each server's alarms and
system information, warns through its tray icon and the desktop's
notifications, lets the user silence one alarm category of one server for a
while, and starts scripts when an alarm comes up.")
# The libraries come from the binary; the linker does not see the plugins Qt loads at run time:
# Wayland's platform (X11's is in libqt5gui5, which the binary links), the SVG image format, the
# Secret Service library QtKeychain loads for the desktop's keyring, and Qt SQL's SQLite driver for the
# alarm history.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5svg5, qtwayland5, libsecret-1-0, libqt5sql5-sqlite")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

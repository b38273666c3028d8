# The Debian package (cpack -G DEB, run by scripts/package). Its dependencies
# come from the installed binaries through dpkg-shlibdeps; the MIME, desktop
# and icon databases are refreshed by dpkg's triggers, so the package needs no
# maintainer scripts.
set(kv_docdir ${CMAKE_INSTALL_DATADIR}/doc/kivara)
install(FILES share/doc/copyright DESTINATION ${kv_docdir})
configure_file(share/doc/changelog changelog @ONLY)
add_custom_command(OUTPUT changelog.gz
    COMMAND sh -c "gzip -9nc changelog > changelog.gz"
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${kv_docdir})

set(CPACK_PACKAGE_NAME kivara)
set(CPACK_PACKAGE_VENDOR "Kivara")
set(CPACK_PACKAGE_CONTACT "Kivara maintainers <maintainers@users.noreply.c-seed-9a274f98.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calls, chat rooms and file transfer for mail contacts")
set(CPACK_PACKAGE_DESCRIPTION
    "Kivara adds direct calls, multi-room chat, file transfer and left messages to
the contacts of a mail-and-contacts program, between users on one network or
on the Internet. A tray monitor waits for calls and rings; the contact's form
in the mail host carries the conversation.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by name, not linked, so dpkg-shlibdeps cannot see them: the store's SQLite
# driver and the icon engine that draws the icons from their SVGs at any scale.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6svg6")
# Documents, folders and links open through xdg-open; the first start refreshes the
# user's MIME and desktop databases with the other two.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The ufw profile under /etc is the user's to change: kept on upgrade.
if(IS_ABSOLUTE ${KIVARA_INSTALL_UFWDIR})
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "${KIVARA_INSTALL_UFWDIR}/kivara\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
endif()
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

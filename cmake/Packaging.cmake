# Installation layout and the Debian package.
#
# `cmake --install` puts the programs in bin/ and the desktop integration where
# the freedesktop and Debian conventions expect it: the desktop file, the icons
# in the hicolor theme, the AppStream metainfo, the manual pages, the bash
# completion of tallowdesk-cli, the systemd user unit of the local service and
# the package's copyright and changelog. `cpack -G DEB` packs that tree.

include(GNUInstallDirs)

set(TALLOWDESK_APP_ID "io.tallowdesk.Tallowdesk")
set(TALLOWDESK_PACKAGE_NAME "tallowdesk")
set(TALLOWDESK_HOMEPAGE "https://tallowdesk.io" CACHE STRING "Home page named by the package")
set(TALLOWDESK_CONTACT_EMAIL "team@tallowdesk.io")
set(TALLOWDESK_MAINTAINER "The Tallowdesk team <${TALLOWDESK_CONTACT_EMAIL}>")
# AppStream wants screenshots as web addresses. The end-to-end window test
# takes them (e2e-*.png in the build folder); scripts/package-check.sh gathers
# them for publishing under this address.
set(TALLOWDESK_SCREENSHOT_URL "${TALLOWDESK_HOMEPAGE}/screenshots"
    CACHE STRING "Web folder the e2e screenshots are published in")

set(_res ${PROJECT_SOURCE_DIR}/resources)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_gen})

# --- Release notes of this version -----------------------------------------
# resources/desktop/release-notes.txt holds "VERSION DATE" lines followed by
# "- " notes; the version of project() must have its entry.
file(STRINGS ${_res}/desktop/release-notes.txt _notes_lines)
set(TALLOWDESK_RELEASE_DATE "")
set(_notes "")
set(_in_release FALSE)
foreach(_line IN LISTS _notes_lines)
  if(_line MATCHES "^([0-9][^ ]*) ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
    set(_in_release FALSE)
    if(CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
      set(TALLOWDESK_RELEASE_DATE ${CMAKE_MATCH_2})
      set(_in_release TRUE)
    endif()
  elseif(_in_release AND _line MATCHES "^- (.+)$")
    list(APPEND _notes "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT TALLOWDESK_RELEASE_DATE OR NOT _notes)
  message(FATAL_ERROR "resources/desktop/release-notes.txt has no notes for version "
                      "${PROJECT_VERSION}: add a line \"${PROJECT_VERSION} YYYY-MM-DD\" and its notes")
endif()

set(TALLOWDESK_RELEASE_NOTES_XML "        <ul>\n")
set(_changelog_items "")
foreach(_note IN LISTS _notes)
  set(_xml "${_note}")
  string(REPLACE "&" "&amp;" _xml "${_xml}")
  string(REPLACE "<" "&lt;" _xml "${_xml}")
  string(REPLACE ">" "&gt;" _xml "${_xml}")
  string(APPEND TALLOWDESK_RELEASE_NOTES_XML "          <li>${_xml}</li>\n")
  string(APPEND _changelog_items "  * ${_note}.\n")
endforeach()
string(APPEND TALLOWDESK_RELEASE_NOTES_XML "        </ul>")

# The Debian changelog's date is the release date in RFC 2822 form; the day
# of the week comes from Zeller's congruence.
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${TALLOWDESK_RELEASE_DATE}")
math(EXPR _year "${CMAKE_MATCH_1}")
math(EXPR _month "${CMAKE_MATCH_2}")
math(EXPR _day "${CMAKE_MATCH_3}")
set(_zy ${_year})
set(_zm ${_month})
if(_zm LESS 3)
  math(EXPR _zm "${_zm} + 12")
  math(EXPR _zy "${_zy} - 1")
endif()
math(EXPR _weekday "(${_day} + (13 * (${_zm} + 1)) / 5 + ${_zy} + ${_zy} / 4 - ${_zy} / 100 + ${_zy} / 400) % 7")
set(_weekdays Sat Sun Mon Tue Wed Thu Fri)
list(GET _weekdays ${_weekday} _weekday_name)
math(EXPR _month_index "${_month} - 1")
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET _months ${_month_index} _month_name)
set(TALLOWDESK_DEB_RELEASE 1)
set(_changelog_date "${_weekday_name}, ${CMAKE_MATCH_3} ${_month_name} ${_year} 12:00:00 +0000")
file(WRITE ${_gen}/changelog.Debian
     "${TALLOWDESK_PACKAGE_NAME} (${PROJECT_VERSION}-${TALLOWDESK_DEB_RELEASE}) unstable; urgency=medium\n\n"
     "${_changelog_items}\n"
     " -- ${TALLOWDESK_MAINTAINER}  ${_changelog_date}\n")

configure_file(${_res}/desktop/${TALLOWDESK_APP_ID}.metainfo.xml.in
               ${_gen}/${TALLOWDESK_APP_ID}.metainfo.xml @ONLY)

# --- Compressed at build time: manual pages and the changelog --------------
find_program(TALLOWDESK_GZIP gzip REQUIRED)
set(_compressed "")
foreach(_page tallowdesk.1 tallowdesk-cli.1 tallowdesk-server.1)
  add_custom_command(OUTPUT ${_gen}/${_page}.gz
    COMMAND ${TALLOWDESK_GZIP} -9nc ${_res}/man/${_page} > ${_gen}/${_page}.gz
    DEPENDS ${_res}/man/${_page}
    COMMENT "Compressing the manual page ${_page}" VERBATIM)
  list(APPEND _compressed ${_gen}/${_page}.gz)
endforeach()
add_custom_command(OUTPUT ${_gen}/changelog.Debian.gz
  COMMAND ${TALLOWDESK_GZIP} -9nc ${_gen}/changelog.Debian > ${_gen}/changelog.Debian.gz
  DEPENDS ${_gen}/changelog.Debian ${_res}/desktop/release-notes.txt
  COMMENT "Compressing the Debian changelog" VERBATIM)
list(APPEND _compressed ${_gen}/changelog.Debian.gz)
add_custom_target(tallowdesk_packaging_files ALL DEPENDS ${_compressed})

# --- Install rules ----------------------------------------------------------
set(_programs "")
foreach(_program tallowdesk tallowdesk-cli tallowdesk-server tallowdesk-updater)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    string(APPEND _programs "${_program}\n")
  endif()
endforeach()
# The programs this build installs, for scripts/package-check.sh.
file(WRITE ${_gen}/programs.txt "${_programs}")

install(FILES ${_res}/desktop/${TALLOWDESK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_gen}/${TALLOWDESK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${_res}/desktop/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${_gen}/tallowdesk.1.gz ${_gen}/tallowdesk-cli.1.gz ${_gen}/tallowdesk-server.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_res}/completion/tallowdesk-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tallowdesk-cli)
# systemd looks for user units in lib/systemd/user under the prefix, never
# in a multiarch library folder.
# ExecStart needs the absolute path, known only at install time: cpack and
# `cmake --install --prefix` choose the prefix then.
install(CODE "
  set(TALLOWDESK_SERVER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tallowdesk-server\")
  configure_file(\"${_res}/systemd/tallowdesk-server.service.in\"
                 \"${_gen}/unit/tallowdesk-server.service\" @ONLY)")
install(FILES ${_gen}/unit/tallowdesk-server.service DESTINATION lib/systemd/user)
# The same service for a whole machine, under its own account.
install(CODE "
  set(TALLOWDESK_SERVER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tallowdesk-server\")
  configure_file(\"${_res}/systemd/tallowdesk-server-system.service.in\"
                 \"${_gen}/unit/system/tallowdesk-server.service\" @ONLY)")
install(FILES ${_gen}/unit/system/tallowdesk-server.service DESTINATION lib/systemd/system)
install(FILES ${_res}/systemd/tallowdesk.sysusers DESTINATION lib/sysusers.d RENAME tallowdesk.conf)
install(FILES ${_res}/debian/copyright ${_gen}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TALLOWDESK_PACKAGE_NAME})
install(FILES ${_res}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${TALLOWDESK_PACKAGE_NAME})

# --- Debian package -----------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TALLOWDESK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Tallowdesk team")
set(CPACK_PACKAGE_CONTACT ${TALLOWDESK_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client for online document stores")
set(CPACK_PACKAGE_DESCRIPTION
    "Tallowdesk shows the documents, spreadsheets, presentations and files of a\n"
    "document store in a window like a file manager: it uploads files and folder\n"
    "trees, downloads and exports documents, shares them and moves them to the\n"
    "trash.\n"
    "\n"
    "The package also holds tallowdesk-cli, which does the same from a terminal,\n"
    "and tallowdesk-server, a document service for the accounts of one computer\n"
    "that the window starts when it is not running.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TALLOWDESK_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TALLOWDESK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TALLOWDESK_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The window keeps the remembered password in the keyring through the
# Secret Service when the user asks for it.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring | keepassxc")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

# What `make install` (cmake --install) puts where, and the Debian package made of it
# (`make package`). Paths follow GNUInstallDirs, so --prefix and DESTDIR move all of it.

set(DW_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/diskwright")
find_program(DW_GZIP gzip REQUIRED)

install(TARGETS diskwright-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES cli/completion/diskwright-cli
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions")
install(FILES README.md DESTINATION "${DW_DOC_DIR}")
install(FILES docs/commands.md docs/create.md docs/import.md docs/json.md docs/screenshot.png
        DESTINATION "${DW_DOC_DIR}/docs")

# The maintainer goes into the package's control file, its copyright and its changelog.
set(DW_PACKAGE_MAINTAINER "Diskwright Project <diskwright@larkspurworkshop.invalid>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${DW_PACKAGE_MAINTAINER}")

# The copyright in Debian's machine-readable form, its licence text taken from LICENSE.
file(READ LICENSE DW_LICENSE_TEXT)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" DW_COPYRIGHT "${DW_LICENSE_TEXT}")
set(DW_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\n(Permission is hereby)" "\\1" DW_LICENSE_TEXT "${DW_LICENSE_TEXT}")
string(STRIP "${DW_LICENSE_TEXT}" DW_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" DW_LICENSE_TEXT "${DW_LICENSE_TEXT}")
string(REPLACE "\n" "\n " DW_LICENSE_TEXT " ${DW_LICENSE_TEXT}")
configure_file(res/debian/copyright.in "${CMAKE_BINARY_DIR}/package/copyright" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/package/copyright" DESTINATION "${DW_DOC_DIR}")

# The changelog and the AppStream release name the version project() sets.
foreach(file "res/debian/changelog|^diskwright \\(${PROJECT_VERSION}\\) "
             "res/org.larkspurworkshop.Diskwright.metainfo.xml|<release version=\"${PROJECT_VERSION}\"")
    string(REPLACE "|" ";" file "${file}")
    list(GET file 0 path)
    list(GET file 1 pattern)
    file(READ "${path}" text)
    if(NOT text MATCHES "${pattern}")
        message(FATAL_ERROR "${path} has no entry for version ${PROJECT_VERSION}")
    endif()
endforeach()

# Files that name where this install puts things (the manual pages' FILES, the D-Bus
# activation file's program) are made while installing, when the prefix is known; those that
# Debian wants compressed are gzipped then.
set(configured
    "docs/man/diskwright-cli.1.in|${CMAKE_INSTALL_MANDIR}/man1|diskwright-cli.1|${DW_GZIP}"
    "res/debian/changelog|${DW_DOC_DIR}|changelog|${DW_GZIP}")
if(DW_BUILD_UI)
    list(APPEND configured
        "docs/man/diskwright.1.in|${CMAKE_INSTALL_MANDIR}/man1|diskwright.1|${DW_GZIP}"
        "res/org.larkspurworkshop.Diskwright.service.in|${CMAKE_INSTALL_DATAROOTDIR}/dbus-1/services|org.larkspurworkshop.Diskwright.service|")
endif()
set(code "
    include(\"${PROJECT_SOURCE_DIR}/cmake/InstallTime.cmake\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(DW_MAN_DATE \"${DW_MAN_DATE}\")
    dw_install_dir(DW_DATADIR \"${CMAKE_INSTALL_DATAROOTDIR}\")
    dw_install_dir(DW_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    dw_shell_word(DW_EXEC \"\${DW_BINDIR}/diskwright\")")
foreach(entry ${configured})
    string(REPLACE "|" "\" \"" entry "${entry}")
    string(APPEND code "
    dw_install_configured(\"${CMAKE_BINARY_DIR}\" \"${PROJECT_SOURCE_DIR}/${entry}\")")
endforeach()
install(CODE "${code}")

if(DW_BUILD_UI)
    install(TARGETS diskwright RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    install(FILES res/diskwright.desktop DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")
    install(FILES res/org.larkspurworkshop.Diskwright.metainfo.xml
            DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/metainfo")
    install(FILES res/diskwright-mime.xml DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/mime/packages"
            RENAME diskwright.xml)
    install(FILES res/diskwright.svg
            DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps")
    foreach(size ${DW_ICON_SIZES})
        install(FILES "${DW_ICON_DIR}/${size}x${size}/apps/diskwright.png"
                DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps")
    endforeach()
endif()

# Installed straight into a live prefix (no DESTDIR), the new type and entry are made known at
# once. A component of its own, which the package leaves out.
if(DW_BUILD_UI)
    install(CODE "
        if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
            include(\"${PROJECT_SOURCE_DIR}/cmake/RefreshDatabases.cmake\")
            dw_refresh_databases(\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}\" FALSE)
        endif()" COMPONENT refresh)
endif()

# The Debian package. Installing files into share/mime/packages, share/applications,
# share/icons/hicolor and share/man is all it takes: the triggers of shared-mime-info,
# desktop-file-utils, hicolor-icon-theme and man-db refresh their databases.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME diskwright)
set(CPACK_PACKAGE_VENDOR "Larkspur Workshop")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manager for FLEX disk images of 6800 and 6809 computers")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Diskwright looks after FLEX diskette images (.dsk files): it lists a disk's"
    "volume and directory, exports files (raw, or as text with FLEX space"
    "compression expanded), imports files under 8.3 FLEX names, deletes files and"
    "creates new formatted images. It comes as a Qt window (diskwright) and a"
    "command-line tool for scripts (diskwright-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Diskwright;diskwright;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds no display without its platform plugins, which libqt6gui6 only recommends.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Without these the type, the menu entry and the icon are installed but not found.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
include(CPack)

# Last, when every file is in place: the record of this install for `make uninstall`
# (cmake/Uninstall.cmake). Not in the package, which dpkg keeps the record of.
install(CODE "
    include(\"${PROJECT_SOURCE_DIR}/cmake/InstallTime.cmake\")
    dw_record_install(\"${CMAKE_BINARY_DIR}\")" COMPONENT manifest)

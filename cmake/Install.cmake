# What `make install` (cmake --install) puts where, and the Debian package made of it
# (`make package`). Paths follow GNUInstallDirs, so --prefix and DESTDIR move all of it.

set(DW_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/diskwright")
set(DW_MAN_PAGES "${CMAKE_BINARY_DIR}/man/man1/diskwright-cli.1")
if(DW_BUILD_UI)
    list(APPEND DW_MAN_PAGES "${CMAKE_BINARY_DIR}/man/man1/diskwright.1")
endif()

install(TARGETS diskwright-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES cli/completion/diskwright-cli
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions")
install(FILES README.md DESTINATION "${DW_DOC_DIR}")
install(FILES docs/commands.md docs/create.md docs/import.md docs/json.md docs/screenshot.png
        DESTINATION "${DW_DOC_DIR}/docs")

# Manual pages go compressed, as Debian wants them; man reads them so everywhere.
find_program(DW_GZIP gzip)
if(DW_GZIP)
    set(gz_pages)
    foreach(page ${DW_MAN_PAGES})
        get_filename_component(name "${page}" NAME)
        set(gz "${CMAKE_BINARY_DIR}/man/gz/${name}.gz")
        add_custom_command(OUTPUT "${gz}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man/gz"
            COMMAND ${DW_GZIP} -9 -n -c "${page}" > "${gz}"
            DEPENDS "${page}")
        list(APPEND gz_pages "${gz}")
    endforeach()
    add_custom_target(man_pages_gz ALL DEPENDS ${gz_pages})
    set(DW_MAN_PAGES ${gz_pages})
endif()
install(FILES ${DW_MAN_PAGES} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

if(DW_BUILD_UI)
    install(TARGETS diskwright RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    install(FILES res/diskwright.desktop DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")
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
# once. A component of its own: the staging test and the package install only "diskwright".
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
set(CPACK_PACKAGE_CONTACT "Larkspur Workshop <diskwright@larkspurworkshop.invalid>"
    CACHE STRING "Maintainer of the Debian package")
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

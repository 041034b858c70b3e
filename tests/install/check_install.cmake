# Installs the build BUILD into two staging folders under STAGE (DESTDIR, prefix /usr), as
# `make install` and the package do, and checks that exactly these files arrive, that the
# programs can run, and that the desktop entry and the D-Bus activation file name a program, an
# icon and a type that are installed. Then that the uninstall of each staging folder removes
# its own files and nothing else.
set(expected
    usr/bin/diskwright
    usr/bin/diskwright-cli
    usr/share/applications/diskwright.desktop
    usr/share/bash-completion/completions/diskwright-cli
    usr/share/dbus-1/services/org.larkspurworkshop.Diskwright.service
    usr/share/doc/diskwright/README.md
    usr/share/doc/diskwright/changelog.gz
    usr/share/doc/diskwright/copyright
    usr/share/doc/diskwright/docs/commands.md
    usr/share/doc/diskwright/docs/create.md
    usr/share/doc/diskwright/docs/import.md
    usr/share/doc/diskwright/docs/json.md
    usr/share/doc/diskwright/docs/screenshot.png
    usr/share/icons/hicolor/128x128/apps/diskwright.png
    usr/share/icons/hicolor/16x16/apps/diskwright.png
    usr/share/icons/hicolor/256x256/apps/diskwright.png
    usr/share/icons/hicolor/32x32/apps/diskwright.png
    usr/share/icons/hicolor/48x48/apps/diskwright.png
    usr/share/icons/hicolor/64x64/apps/diskwright.png
    usr/share/icons/hicolor/scalable/apps/diskwright.svg
    usr/share/man/man1/diskwright-cli.1.gz
    usr/share/man/man1/diskwright.1.gz
    usr/share/metainfo/org.larkspurworkshop.Diskwright.metainfo.xml
    usr/share/mime/packages/diskwright.xml)

function(expect_files folder)
    file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
    list(SORT installed)
    if(NOT installed STREQUAL ARGN)
        set(missing ${ARGN})
        list(REMOVE_ITEM missing ${installed})
        set(extra ${installed})
        list(REMOVE_ITEM extra ${ARGN})
        message(FATAL_ERROR "Files in ${folder} differ. Missing: ${missing}. Not expected: ${extra}")
    endif()
endfunction()

function(stage command folder)
    if(command STREQUAL "install")
        set(run ${CMAKE_COMMAND} -E env DESTDIR=${folder} ${CMAKE_COMMAND} --install ${BUILD}
                --prefix /usr)
    else()
        set(run ${CMAKE_COMMAND} -DBUILD=${BUILD} -DDESTDIR=${folder} -DPREFIX=/usr
                -P ${CMAKE_CURRENT_LIST_DIR}/../../cmake/Uninstall.cmake)
    endif()
    execute_process(COMMAND ${run} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endfunction()

file(REMOVE_RECURSE "${STAGE}")
set(other "${STAGE}/other")
set(STAGE "${STAGE}/stage")
stage(install "${STAGE}")
stage(install "${other}")
expect_files("${STAGE}" ${expected})

foreach(program diskwright diskwright-cli)
    execute_process(COMMAND "${STAGE}/usr/bin/${program}" --version
                    OUTPUT_VARIABLE version RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT version MATCHES "^${program} [0-9]")
        message(FATAL_ERROR "The installed ${program} does not run: ${result} ${version}")
    endif()
endforeach()

file(STRINGS "${STAGE}/usr/share/applications/diskwright.desktop" exec REGEX "^Exec=")
file(STRINGS "${STAGE}/usr/share/applications/diskwright.desktop" icon REGEX "^Icon=")
file(STRINGS "${STAGE}/usr/share/applications/diskwright.desktop" types REGEX "^MimeType=")
file(STRINGS "${STAGE}/usr/share/mime/packages/diskwright.xml" declared REGEX "<mime-type type=")
string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec "${exec}")
string(REGEX REPLACE "^Icon=" "" icon "${icon}")
string(REGEX REPLACE "^MimeType=([^;\\]*).*" "\\1" types "${types}")
string(REGEX REPLACE ".*type=\"([^\"]+)\".*" "\\1" declared "${declared}")
if(NOT EXISTS "${STAGE}/usr/bin/${exec}"
   OR NOT EXISTS "${STAGE}/usr/share/icons/hicolor/scalable/apps/${icon}.svg"
   OR NOT types STREQUAL declared)
    message(FATAL_ERROR "The desktop entry names ${exec}, ${icon} and ${types}, "
                        "but ${declared} is the installed type")
endif()
file(STRINGS "${STAGE}/usr/share/dbus-1/services/org.larkspurworkshop.Diskwright.service" exec
     REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=/usr/bin/diskwright -Automation")
    message(FATAL_ERROR "The D-Bus activation file starts ${exec}")
endif()

# A file that something else has changed since the install stays.
file(APPEND "${other}/usr/share/doc/diskwright/README.md" "a note of the user's")
stage(uninstall "${STAGE}")
expect_files("${STAGE}")
expect_files("${other}" ${expected})
stage(uninstall "${other}")
expect_files("${other}" usr/share/doc/diskwright/README.md)

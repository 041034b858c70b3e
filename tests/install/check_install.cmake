# Installs the build BUILD into the staging folder STAGE (DESTDIR, prefix /usr), as the package
# does, and checks that exactly these files arrive, that the programs can run, and that the
# desktop entry names a program, an icon and a type that are installed.
set(expected
    usr/bin/diskwright
    usr/bin/diskwright-cli
    usr/share/applications/diskwright.desktop
    usr/share/bash-completion/completions/diskwright-cli
    usr/share/doc/diskwright/README.md
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
    usr/share/mime/packages/diskwright.xml)

file(REMOVE_RECURSE "${STAGE}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
            ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr --component diskwright
    OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The install into ${STAGE} failed")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT installed)
if(NOT installed STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${installed})
    set(extra ${installed})
    list(REMOVE_ITEM extra ${expected})
    message(FATAL_ERROR "Installed files differ. Missing: ${missing}. Not expected: ${extra}")
endif()

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

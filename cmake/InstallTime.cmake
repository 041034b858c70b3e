# What runs while installing (inside cmake_install.cmake, where CMAKE_INSTALL_PREFIX is the
# prefix of this install and DESTDIR its staging folder), and the record `make uninstall` reads.

# Sets VARIABLE to DIR (a GNUInstallDirs folder) under the prefix of this install, as the
# installed files must name it (CPack installs with the prefix /usr under a DESTDIR).
function(dw_install_dir variable dir)
    if(NOT IS_ABSOLUTE "${dir}")
        set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    set(${variable} "${dir}" PARENT_SCOPE)
endfunction()

# Installs TEMPLATE (a .in file with the @VARIABLES@ of this install filled in, else as it is) as
# DESTINATION/NAME; gzipped
# (as NAME.gz) when GZIP names the program. The file is made in BUILD, in a folder of this
# install's own.
function(dw_install_configured build template destination name gzip)
    string(MD5 place "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(made "${build}/install-time/${place}/${name}")
    if(template MATCHES "\\.in$")
        configure_file("${template}" "${made}" @ONLY)
    else()
        configure_file("${template}" "${made}" COPYONLY)
    endif()
    if(gzip)
        execute_process(COMMAND "${gzip}" -9 -n -f "${made}" RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "Unable to compress ${made}; nothing more was installed")
        endif()
        set(made "${made}.gz")
    endif()
    if(NOT IS_ABSOLUTE "${destination}")
        set(destination "${CMAKE_INSTALL_PREFIX}/${destination}")
    endif()
    file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${made}")
    # file(INSTALL) records into this scope; the manifest is written by the caller's.
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# The manifest of the install into DESTDIR and PREFIX: one per place, so an install elsewhere
# (a staging folder, another prefix) neither replaces it nor is removed by its uninstall.
function(dw_manifest_path build destdir prefix out_path out_root)
    set(root "${destdir}${prefix}")
    cmake_path(NORMAL_PATH root)
    string(REGEX REPLACE "(.)/+$" "\\1" root "${root}")
    string(MD5 key "${root}")
    set(${out_path} "${build}/install-manifests/${key}.txt" PARENT_SCOPE)
    set(${out_root} "${root}" PARENT_SCOPE)
endfunction()

# Writes what this install put where: each file's SHA-256 and its path with DESTDIR, so the
# uninstall removes only files that are still as installed.
function(dw_record_install build)
    dw_manifest_path("${build}" "$ENV{DESTDIR}" "${CMAKE_INSTALL_PREFIX}" manifest root)
    set(lines "# ${root}\n")
    foreach(file ${CMAKE_INSTALL_MANIFEST_FILES})
        set(path "$ENV{DESTDIR}${file}")
        file(SHA256 "${path}" sum)
        string(APPEND lines "${sum} ${path}\n")
    endforeach()
    file(WRITE "${manifest}" "${lines}")
    message(STATUS "Installed files listed in ${manifest}")
endfunction()

# WORD as the session bus reads it on an Exec line, which it splits like a shell: plain paths
# stay as they are, others are single-quoted.
function(dw_shell_word variable word)
    if(NOT word MATCHES "^[A-Za-z0-9/._+-]+$")
        string(REPLACE "'" "'\\''" word "${word}")
        set(word "'${word}'")
    endif()
    set(${variable} "${word}" PARENT_SCOPE)
endfunction()

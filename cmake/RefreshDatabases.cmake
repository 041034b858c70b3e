# Makes the desktop see what was installed into or removed from the data folder DATADIR
# (PREFIX/share): the MIME database and the desktop entries' type cache, as the triggers of
# shared-mime-info and desktop-file-utils do for the Debian package. With only_existing, a
# database is refreshed only where it already has its cache. Tools that are missing are skipped.
function(dw_refresh_databases datadir only_existing)
    foreach(entry "update-mime-database|mime|mime.cache"
                  "update-desktop-database|applications|mimeinfo.cache")
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 tool)
        list(GET entry 1 dir)
        list(GET entry 2 cache)
        unset(program)
        find_program(program ${tool} NO_CACHE)
        if(NOT program OR NOT IS_DIRECTORY "${datadir}/${dir}"
           OR (only_existing AND NOT EXISTS "${datadir}/${dir}/${cache}"))
            continue()
        endif()
        execute_process(COMMAND "${program}" "${datadir}/${dir}" RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(WARNING "${tool} ${datadir}/${dir} failed; the change shows after the next "
                            "refresh of that database")
        endif()
    endforeach()
endfunction()

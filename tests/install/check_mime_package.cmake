# Validates PACKAGE with XMLLINT against the document type declared inside FREEDESKTOP (the
# freedesktop.org.xml of shared-mime-info), written out to DTD first.
file(READ "${FREEDESKTOP}" text LIMIT 20000)
string(FIND "${text}" "<!DOCTYPE mime-info [" begin)
string(FIND "${text}" "]>" end)
if(begin LESS 0 OR end LESS begin)
    message(FATAL_ERROR "${FREEDESKTOP} declares no document type")
endif()
math(EXPR begin "${begin} + 21")
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} dtd)
file(WRITE "${DTD}" "${dtd}")
execute_process(COMMAND "${XMLLINT}" --noout --dtdvalid "${DTD}" "${PACKAGE}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PACKAGE} does not follow the shared-mime-info document type")
endif()

# Compiles resources/tessarine.rc and checks that the Chinese version strings came through
# as UTF-16 text. Without the code_page pragma (or with the file saved in another encoding)
# the compiler still succeeds but writes mojibake into the Properties dialog.
#
#   cmake -DRC=<compiler> -DRC_STYLE=windres|msvc [-DRC_CPP=<cpp>] -DSOURCE=<rc>
#         -DOUTPUT=<res> -P check_rc.cmake

if(RC_STYLE STREQUAL "msvc")
    set(command "${RC}" /nologo /fo "${OUTPUT}" "${SOURCE}")
else()
    set(command "${RC}" "${SOURCE}" -O coff -o "${OUTPUT}")
    if(RC_CPP)
        # No cross gcc next to windres: the host's preprocessor handles this file as well.
        list(APPEND command "--preprocessor=${RC_CPP}")
    endif()
endif()

file(REMOVE "${OUTPUT}")
execute_process(COMMAND ${command} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "resource compiler failed (${result}): ${command}")
endif()

file(READ "${OUTPUT}" hex HEX)
# UTF-16LE of "九宫格切图" (FileDescription) and of the "080404B0" block name.
foreach(needle IN ITEMS "5d4eab5b3c680752fe56" "30003800300034003000340042003000")
    string(FIND "${hex}" "${needle}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "compiled resources lack UTF-16 text ${needle}")
    endif()
endforeach()

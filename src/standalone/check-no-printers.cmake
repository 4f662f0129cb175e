# Link-time check that the agent's own code cannot print: standard output
# carries the wire protocol. Fails when the agent core or the program's main
# object refers to a stdio function that writes to standard output, to the
# stdout stream itself (the core only), or to any of the device library's
# printers (inkora_print_*, which write to standard output). The message
# renderer inkora_print_message is allowed: the agent calls it with a buffer.
#
# Arguments: -DNM=<nm> -DCORE=<archive> -DMAIN=<object files, ;-separated>
cmake_minimum_required(VERSION 3.25)
set(_always printf vprintf puts putchar putchar_unlocked __printf_chk __vprintf_chk perror)
set(_core_only stdout fwrite fwrite_unlocked fputs fputs_unlocked fputc putc _IO_putc fprintf __fprintf_chk
    vfprintf __vfprintf_chk)
set(_failures "")
function(_check file forbidden)
    execute_process(COMMAND ${NM} -u ${file} OUTPUT_VARIABLE _out RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "nm failed on ${file}")
    endif()
    string(REPLACE "\n" ";" _lines "${_out}")
    foreach(_line IN LISTS _lines)
        string(STRIP "${_line}" _line)
        string(REGEX REPLACE "^U[ \t]+" "" _symbol "${_line}")
        string(REGEX REPLACE "@.*$" "" _symbol "${_symbol}")
        if(_symbol MATCHES "^inkora_print_" AND NOT _symbol STREQUAL "inkora_print_message")
            list(APPEND _failures "${file}: ${_symbol}")
        elseif(_symbol IN_LIST forbidden)
            list(APPEND _failures "${file}: ${_symbol}")
        endif()
    endforeach()
    set(_failures "${_failures}" PARENT_SCOPE)
endfunction()
_check(${CORE} "${_always};${_core_only}")
foreach(_object IN LISTS MAIN)
    _check(${_object} "${_always}")
endforeach()
if(_failures)
    list(JOIN _failures "\n  " _text)
    message(FATAL_ERROR "The agent refers to functions that print to standard output:\n  ${_text}")
endif()
message(STATUS "No printer reachable from the agent's own code.")

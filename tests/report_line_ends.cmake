# Runs the program on the CPU-backed runtime with standard output redirected to a file, as a
# user's script would, and checks the file byte for byte: the report's fixed texts, well-formed
# figures, and the platform's own line end after every line (CR LF on Windows, through the
# text-mode stream; LF elsewhere).
#
#   cmake -DPROGRAM=exe -DEMULATOR=a|b|c -DLINE_END=CRLF|LF -DOUTPUT=file -P report_line_ends.cmake

string(REPLACE "|" ";" emulator "${EMULATOR}")
if(CMAKE_HOST_WIN32)
    set(no_input NUL)
else()
    set(no_input /dev/null)
endif()
execute_process(COMMAND ${emulator} ${PROGRAM}
    INPUT_FILE ${no_input}
    OUTPUT_FILE ${OUTPUT}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the program exited with ${status}")
endif()
# Line ends are checked on the bytes: file(READ) drops carriage returns from text.
file(READ ${OUTPUT} hex HEX)
string(REGEX MATCHALL ".." bytes "${hex}")
set(previous "")
set(line_ends 0)
foreach(byte IN LISTS bytes)
    if(LINE_END STREQUAL "CRLF")
        if((byte STREQUAL "0a" AND NOT previous STREQUAL "0d") OR
           (previous STREQUAL "0d" AND NOT byte STREQUAL "0a"))
            message(FATAL_ERROR "a line ends in something other than CR LF")
        endif()
    elseif(byte STREQUAL "0d")
        message(FATAL_ERROR "a CR in the report")
    endif()
    if(byte STREQUAL "0a")
        math(EXPR line_ends "${line_ends} + 1")
    endif()
    set(previous ${byte})
endforeach()
if(line_ends EQUAL 0)
    message(FATAL_ERROR "no line ends at all")
endif()
file(READ ${OUTPUT} report)
string(REPLACE "\r" "" report "${report}")
set(nl "\n")

# CMake's regular expressions allow few groups, so the shape takes any run of digits and points,
# and each figure is then held to the stream's default format on its own.
set(figure "[0-9][.0-9]*")
set(blank "${nl}${nl}")
set(expected "^CUDA memory bandwidth test \\(block size = 100 MB\\)${nl}v 1\\.1${nl}")
string(APPEND expected "[^\r\n]+${blank}CPU frequency is\\.\\.\\. ${figure} GHz${blank}")
string(APPEND expected "1 CUDA device\\(s\\) found${blank}GPU 0: CPU-backed stand-in${blank}")
string(APPEND expected "RAM allocating\\.\\.\\. OK${nl}GPU global RAM allocating\\.\\.\\. OK${blank}")
foreach(heading
        "Host -> Device" "Device -> Host" "/RAM" "Host -> Host" "/GPU" "Device -> Device"
        "Host -> Device \\(using page-locked\\)" "Device -> Host \\(using page-locked\\)")
    if(heading STREQUAL "/RAM")
        string(APPEND expected "RAM allocating\\.\\.\\. OK${blank}")
    elseif(heading STREQUAL "/GPU")
        string(APPEND expected "GPU global RAM allocating\\.\\.\\. OK${blank}")
    else()
        string(APPEND expected "Copying ${heading}${nl}Average bandwidth = ${figure} GB/s${blank}")
    endif()
endforeach()
string(APPEND expected "Done$")

if(NOT report MATCHES "${expected}")
    message(FATAL_ERROR "the report does not have the expected shape:\n${report}")
endif()
string(REGEX MATCHALL "(\\.\\.\\. |= )[0-9][.0-9]* G" figures "${report}")
list(LENGTH figures count)
if(NOT count EQUAL 7)
    message(FATAL_ERROR "${count} figures, not the frequency and six averages")
endif()
foreach(written IN LISTS figures)
    string(REGEX REPLACE "^(\\.\\.\\. |= )| G$" "" written "${written}")
    # Six significant digits at most, no trailing zeros, no trailing point, not zero.
    if(NOT written MATCHES "^[1-9][0-9]*(\\.[0-9]*[1-9])?$|^0\\.0*[1-9]([0-9]*[1-9])?$")
        message(FATAL_ERROR "figure '${written}' is not in the stream's default format")
    endif()
    string(REGEX REPLACE "[.]" "" digits "${written}")
    string(REGEX REPLACE "^0+" "" digits "${digits}")
    string(LENGTH "${digits}" significant)
    if(significant GREATER 6)
        message(FATAL_ERROR "figure '${written}' has more than six significant digits")
    endif()
endforeach()
list(LENGTH bytes size)
message(STATUS "a whole report of ${size} bytes, all ${line_ends} lines ended by ${LINE_END}")

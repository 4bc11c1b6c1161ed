# Derives the stored form of the web address that the link buttons open: every byte of the
# address combined by exclusive or with key byte (n mod 6), written as two lower-case hex
# digits. The program decodes it again at run time. A byte equal to its key byte would
# encode as 00, which the decoding drops, so such an address is refused here.
function(ferrocask_encode_web_address address key out_var)
    if(NOT key MATCHES "^[a-z][a-z][a-z][a-z][a-z][a-z]$")
        message(FATAL_ERROR "the web address key must be six lower-case letters, not '${key}'")
    endif()
    string(HEX "${address}" address_hex)
    string(HEX "${key}" key_hex)
    string(LENGTH "${address_hex}" digits)
    if(digits EQUAL 0)
        message(FATAL_ERROR "FERROCASK_WEB_ADDRESS is empty")
    endif()
    # The stored text lives in a 64-byte buffer with at least one terminating zero.
    if(digits GREATER 63)
        math(EXPR bytes "${digits} / 2")
        message(FATAL_ERROR
            "FERROCASK_WEB_ADDRESS is ${bytes} bytes long; at most 31 bytes fit its store")
    endif()
    set(encoded "")
    math(EXPR last "${digits} - 2")
    foreach(i RANGE 0 ${last} 2)
        string(SUBSTRING "${address_hex}" ${i} 2 pair)
        math(EXPR k "((${i} / 2) % 6) * 2")
        string(SUBSTRING "${key_hex}" ${k} 2 key_pair)
        math(EXPR value "0x${pair} ^ 0x${key_pair}" OUTPUT_FORMAT HEXADECIMAL)
        if(value STREQUAL "0x0")
            math(EXPR position "${i} / 2")
            message(FATAL_ERROR "byte ${position} of FERROCASK_WEB_ADDRESS equals its key byte; "
                                "choose another FERROCASK_WEB_KEY")
        endif()
        string(SUBSTRING "${value}" 2 -1 value)
        string(LENGTH "${value}" value_digits)
        if(value_digits EQUAL 1)
            set(value "0${value}")
        endif()
        string(APPEND encoded "${value}")
    endforeach()
    string(TOLOWER "${encoded}" encoded)
    set(${out_var} "${encoded}" PARENT_SCOPE)
endfunction()

# A text that goes into a C++ string literal unescaped.
function(ferrocask_check_literal name value)
    if(value MATCHES "[\"\\\\]" OR value MATCHES "[\r\n]")
        message(FATAL_ERROR "${name} must not contain quotes, backslashes or line breaks")
    endif()
endfunction()

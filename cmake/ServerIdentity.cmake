# Builds a small object library that fixes which update server a program
# talks to: its host name, port and key pin. The pin is either 64 hexadecimal
# digits or a PEM file (certificate or key) whose SPKI digest is computed here.

function(zel_pin_to_hex pin out_var)
    if(pin MATCHES "^[0-9a-fA-F]+$")
        string(LENGTH "${pin}" length)
        if(NOT length EQUAL 64)
            message(FATAL_ERROR "A key pin must be 64 hexadecimal digits, got ${length}.")
        endif()
        set(hex "${pin}")
    elseif(EXISTS "${pin}")
        execute_process(
            COMMAND "${PROJECT_SOURCE_DIR}/tools/compute_pin.sh" "${pin}"
            OUTPUT_VARIABLE hex OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
        if(NOT result EQUAL 0 OR NOT hex MATCHES "^[0-9a-f]+$")
            message(FATAL_ERROR "Could not compute a key pin from ${pin}.")
        endif()
    else()
        message(FATAL_ERROR "The key pin '${pin}' is neither 64 hexadecimal digits nor a PEM file.")
    endif()
    set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# An optional fifth argument shortens the manifest check's 30 s deadline, for
# test builds that must see it pass without waiting half a minute.
function(zel_add_server_identity name host port pin)
    set(ZEL_IDENTITY_DEADLINE_MS 30000)
    if(ARGC GREATER 4)
        set(ZEL_IDENTITY_DEADLINE_MS "${ARGV4}")
    endif()
    zel_pin_to_hex("${pin}" hex)
    string(TOLOWER "${hex}" hex)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(ZEL_IDENTITY_NAME "${name}")
    set(ZEL_IDENTITY_HOST "${host}")
    set(ZEL_IDENTITY_PORT "${port}")
    set(ZEL_IDENTITY_PIN_BYTES "${bytes}")
    set(source "${CMAKE_BINARY_DIR}/generated/server_identity_${name}.cpp")
    configure_file("${PROJECT_SOURCE_DIR}/update/server_identity.cpp.in" "${source}" @ONLY)
    add_library(zel_identity_${name} OBJECT "${source}")
    target_link_libraries(zel_identity_${name} PRIVATE zel_options)
    set(ZEL_PIN_HEX_${name} "${hex}" CACHE INTERNAL "")
endfunction()

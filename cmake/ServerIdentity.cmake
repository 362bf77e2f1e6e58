# Builds a small object library that fixes which update server a program
# talks to: its host name, port and key pins, and the vendor's release key.
# A pin is either 64 hexadecimal digits or a PEM file (certificate or key)
# whose SPKI digest is computed here.

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

# The release key as 128 hexadecimal digits (X then Y): from those digits,
# from 130 starting with 04, or from a PEM file (the public key, or the
# private key, of which only the public half is used).
function(zel_release_key_to_hex key out_var)
    if(key MATCHES "^04[0-9a-fA-F]+$" AND key MATCHES "^[0-9a-fA-F]+$")
        string(LENGTH "${key}" length)
        if(length EQUAL 130)
            string(SUBSTRING "${key}" 2 128 key)
        endif()
    endif()
    if(key MATCHES "^[0-9a-fA-F]+$")
        string(LENGTH "${key}" length)
        if(NOT length EQUAL 128)
            message(FATAL_ERROR "A release key must be 128 hexadecimal digits (X then Y), got ${length}.")
        endif()
        set(hex "${key}")
    elseif(EXISTS "${key}")
        execute_process(
            COMMAND "${PROJECT_SOURCE_DIR}/tools/release_key.sh" public "${key}"
            OUTPUT_VARIABLE hex OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
        if(NOT result EQUAL 0 OR NOT hex MATCHES "^[0-9a-f]+$")
            message(FATAL_ERROR "${key} holds no ECDSA P-256 key.")
        endif()
    else()
        message(FATAL_ERROR "The release key '${key}' is neither 128 hexadecimal digits nor a PEM file.")
    endif()
    string(TOLOWER "${hex}" hex)
    set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# zel_add_server_identity(name host port pins [DEADLINE_MS ms] [RELEASE_KEY keys]
#                         [MAX_AGE_DAYS days])
# Up to four pins, separated by ";" or ",": a key matching any of them
# passes, so a spare key can be built in before it is needed. DEADLINE_MS
# shortens the manifest check's 30 s deadline, for test builds that must see
# it pass without waiting half a minute. RELEASE_KEY takes one or two keys,
# separated by ";" or ",": the current one and, during a hand-over, the next;
# a release either signed is accepted. Without RELEASE_KEY, releases are not
# signature-checked. MAX_AGE_DAYS (default ZEL_MANIFEST_MAX_AGE_DAYS) refuses
# signed releases signed longer ago; the archive bound of releases without a
# signed length is ZEL_MAX_ARCHIVE_BYTES.
function(zel_add_server_identity name host port pins)
    cmake_parse_arguments(ARG "" "DEADLINE_MS;RELEASE_KEY;MAX_AGE_DAYS" "" ${ARGN})
    set(ZEL_IDENTITY_DEADLINE_MS 30000)
    if(ARG_DEADLINE_MS)
        set(ZEL_IDENTITY_DEADLINE_MS "${ARG_DEADLINE_MS}")
    endif()
    set(ZEL_IDENTITY_MAX_AGE_DAYS "${ZEL_MANIFEST_MAX_AGE_DAYS}")
    if(DEFINED ARG_MAX_AGE_DAYS)
        set(ZEL_IDENTITY_MAX_AGE_DAYS "${ARG_MAX_AGE_DAYS}")
    endif()
    if(NOT ZEL_IDENTITY_MAX_AGE_DAYS MATCHES "^[0-9]+$" OR ZEL_IDENTITY_MAX_AGE_DAYS GREATER 36500)
        message(FATAL_ERROR "ZEL_MANIFEST_MAX_AGE_DAYS must be a number of days (0: no limit).")
    endif()
    if(NOT ZEL_MAX_ARCHIVE_BYTES MATCHES "^[1-9][0-9]*$")
        message(FATAL_ERROR "ZEL_MAX_ARCHIVE_BYTES must be a positive number of bytes.")
    endif()
    set(ZEL_IDENTITY_MAX_ARCHIVE_BYTES "${ZEL_MAX_ARCHIVE_BYTES}")
    string(REPLACE "," ";" pins "${pins}")
    list(LENGTH pins count)
    if(count EQUAL 0 OR count GREATER 4)
        message(FATAL_ERROR "ZEL_SERVER_PIN takes one to four pins, got ${count}.")
    endif()
    set(ZEL_IDENTITY_PIN_BYTES "")
    set(hexes "")
    foreach(pin IN LISTS pins)
        zel_pin_to_hex("${pin}" hex)
        string(TOLOWER "${hex}" hex)
        list(APPEND hexes "${hex}")
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
        string(APPEND ZEL_IDENTITY_PIN_BYTES "{${bytes}}, ")
    endforeach()
    set(ZEL_IDENTITY_PIN_COUNT ${count})
    set(ZEL_IDENTITY_RELEASE_KEY_BYTES "{0}")
    set(ZEL_IDENTITY_RELEASE_KEY_COUNT 0)
    if(ARG_RELEASE_KEY)
        string(REPLACE "," ";" keys "${ARG_RELEASE_KEY}")
        list(LENGTH keys key_count)
        if(key_count GREATER 2)
            message(FATAL_ERROR "ZEL_RELEASE_KEY takes one or two keys, got ${key_count}.")
        endif()
        set(ZEL_IDENTITY_RELEASE_KEY_BYTES "")
        foreach(key IN LISTS keys)
            zel_release_key_to_hex("${key}" key_hex)
            string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${key_hex}")
            string(APPEND ZEL_IDENTITY_RELEASE_KEY_BYTES "{${bytes}}, ")
        endforeach()
        set(ZEL_IDENTITY_RELEASE_KEY_COUNT ${key_count})
    endif()
    # Only where the test suite asks for it (ZEL_TEST_PORT_SHIFT_ALLOWED): a
    # product build's port is a constant.
    set(ZEL_IDENTITY_TEST_SHIFT 0)
    if(ZEL_TEST_PORT_SHIFT_ALLOWED)
        set(ZEL_IDENTITY_TEST_SHIFT 1)
    endif()
    set(ZEL_IDENTITY_NAME "${name}")
    set(ZEL_IDENTITY_HOST "${host}")
    set(ZEL_IDENTITY_PORT "${port}")
    set(source "${CMAKE_BINARY_DIR}/generated/server_identity_${name}.cpp")
    configure_file("${PROJECT_SOURCE_DIR}/update/server_identity.cpp.in" "${source}" @ONLY)
    add_library(zel_identity_${name} OBJECT "${source}")
    target_link_libraries(zel_identity_${name} PRIVATE zel_options)
    set(ZEL_PIN_HEX_${name} "${hexes}" CACHE INTERNAL "")
endfunction()

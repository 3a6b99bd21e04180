# cmake -DJSON=<file> -DEMULATOR=<words> -DLIST=<file> -DHOST_LIST=<file>
#       [-DBASE_ENV=<NAME=VALUE;...>] [-DEXCLUDE_LABELS=<label;...>]
#       [-DTIMEOUT_CAP=<seconds>]
#       [-DVIEW=<version> -DVIEW_LAUNCHER=<path> -DVIEW_PROGRAMS=<regex>] -P test-list.cmake
#
# Turns `ctest --show-only=json-v1` of a cross build into the list that the system image's
# /init runs (format in tests/system/TestList.h), since the image has no CTest. A test
# whose command starts with the emulator runs a program of ours there, the emulator's
# words removed; any other test (a script of the build machine, such as the exported-symbol
# check) goes to HOST_LIST, one name a line, for CTest to run here. Tests carrying one of
# EXCLUDE_LABELS, and disabled tests, are left out. A property whose meaning the image's
# runner does not implement stops the conversion rather than being ignored.
#
# TIMEOUT_CAP bounds every test's time limit in the image (a test's own lower TIMEOUT
# stays): CTest's limits are sized for sanitizer builds, and a test that hangs in the
# emulated machine must not hold the whole run for them.
#
# VIEW lists every test whose program matches VIEW_PROGRAMS a second time, named
# "view-<version>:<name>", run through VIEW_LAUNCHER (tests/support's ifxtest-kernel-view)
# under the view of that older kernel: the same booted kernel then shows the tests the
# system calls of the older one.
cmake_minimum_required(VERSION 3.25)

foreach(variable JSON EMULATOR LIST HOST_LIST)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "test-list.cmake: ${variable} is not set")
    endif()
endforeach()

if(NOT DEFINED TIMEOUT_CAP)
    set(TIMEOUT_CAP 0)
endif()
if(DEFINED VIEW AND (NOT DEFINED VIEW_LAUNCHER OR NOT DEFINED VIEW_PROGRAMS))
    message(FATAL_ERROR "test-list.cmake: VIEW needs VIEW_LAUNCHER and VIEW_PROGRAMS")
endif()

file(READ ${JSON} json)
list(LENGTH EMULATOR emulator_words)

# The elements of the JSON array text in json_array, as a CMake list in out (elements
# must not contain ';').
function(json_array_to_list json_array out)
    set(items "")
    string(JSON count LENGTH "${json_array}")
    if(count GREATER 0)
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON item GET "${json_array}" ${i})
            if(item MATCHES ";")
                message(FATAL_ERROR "test-list.cmake: a ';' in ${item} cannot be listed")
            endif()
            list(APPEND items "${item}")
        endforeach()
    endif()
    set(${out} "${items}" PARENT_SCOPE)
endfunction()

function(check_line_safe text)
    if(text MATCHES "\n")
        message(FATAL_ERROR "test-list.cmake: a line feed in '${text}' cannot be listed")
    endif()
endfunction()

set(lines "")
foreach(entry IN LISTS BASE_ENV)
    check_line_safe("${entry}")
    string(APPEND lines "base ${entry}\n")
endforeach()
set(host_tests "")
set(listed 0)
set(viewed 0)
set(left_out 0)

string(JSON test_count LENGTH "${json}" tests)
math(EXPR last_test "${test_count} - 1")
foreach(t RANGE ${last_test})
    string(JSON test GET "${json}" tests ${t})
    string(JSON name GET "${test}" name)
    string(JSON command_json ERROR_VARIABLE no_command GET "${test}" command)
    if(no_command)
        message(FATAL_ERROR "test-list.cmake: ${name} has no command")
    endif()
    json_array_to_list("${command_json}" command)

    # CTest's defaults.
    set(dir "")
    set(timeout 1500)
    set(fields "")
    set(labels "")
    set(disabled FALSE)
    string(JSON property_count ERROR_VARIABLE no_properties LENGTH "${test}" properties)
    if(no_properties)
        set(property_count 0)
    endif()
    if(property_count GREATER 0)
        math(EXPR last_property "${property_count} - 1")
        foreach(p RANGE ${last_property})
            string(JSON property_name GET "${test}" properties ${p} name)
            string(JSON value_type TYPE "${test}" properties ${p} value)
            string(JSON value GET "${test}" properties ${p} value)
            if(value_type STREQUAL "ARRAY")
                json_array_to_list("${value}" value)
            endif()
            if(property_name STREQUAL "ENVIRONMENT")
                foreach(entry IN LISTS value)
                    check_line_safe("${entry}")
                    string(APPEND fields "env ${entry}\n")
                endforeach()
            elseif(property_name STREQUAL "LABELS")
                set(labels "${value}")
            elseif(property_name STREQUAL "TIMEOUT")
                set(timeout "${value}")
            elseif(property_name STREQUAL "WORKING_DIRECTORY")
                set(dir "${value}")
            elseif(property_name STREQUAL "RUN_SERIAL")
                if(value)
                    string(APPEND fields "serial\n")
                endif()
            elseif(property_name STREQUAL "WILL_FAIL")
                if(value)
                    string(APPEND fields "will-fail\n")
                endif()
            elseif(property_name STREQUAL "SKIP_RETURN_CODE")
                string(APPEND fields "skip-code ${value}\n")
            elseif(property_name STREQUAL "SKIP_REGULAR_EXPRESSION")
                foreach(pattern IN LISTS value)
                    check_line_safe("${pattern}")
                    string(APPEND fields "skip-regex ${pattern}\n")
                endforeach()
            elseif(property_name STREQUAL "DISABLED")
                set(disabled "${value}")
            elseif(property_name MATCHES
                   "^(PASS_REGULAR_EXPRESSION|FAIL_REGULAR_EXPRESSION|ENVIRONMENT_MODIFICATION|FIXTURES_.*|REQUIRED_FILES|TIMEOUT_AFTER_MATCH|TIMEOUT_SIGNAL_.*)$")
                message(FATAL_ERROR "test-list.cmake: ${name} has ${property_name}, which "
                    "the image's runner does not implement")
            endif()
            # Anything else (COST, PROCESSORS, DEPENDS, RESOURCE_LOCK, the definition's
            # source line) only orders or describes tests.
        endforeach()
    endif()

    set(excluded FALSE)
    foreach(label IN LISTS labels)
        if(label IN_LIST EXCLUDE_LABELS)
            set(excluded TRUE)
        endif()
    endforeach()
    if(excluded OR disabled)
        math(EXPR left_out "${left_out} + 1")
        continue()
    endif()

    list(LENGTH command command_words)
    set(emulated FALSE)
    if(command_words GREATER emulator_words)
        list(SUBLIST command 0 ${emulator_words} head)
        if(head STREQUAL EMULATOR)
            set(emulated TRUE)
        endif()
    endif()
    if(NOT emulated)
        list(APPEND host_tests "${name}")
        continue()
    endif()
    list(SUBLIST command ${emulator_words} -1 program_command)

    check_line_safe("${name}")
    set(body "")
    if(dir)
        string(APPEND body "dir ${dir}\n")
    endif()
    if(TIMEOUT_CAP GREATER 0 AND (timeout EQUAL 0 OR timeout GREATER TIMEOUT_CAP))
        set(timeout ${TIMEOUT_CAP})
    endif()
    string(APPEND body "timeout ${timeout}\n${fields}")
    set(args "")
    foreach(word IN LISTS program_command)
        check_line_safe("${word}")
        string(APPEND args "arg ${word}\n")
    endforeach()
    string(APPEND lines "test ${name}\n${body}${args}")
    math(EXPR listed "${listed} + 1")

    list(GET program_command 0 program)
    if(DEFINED VIEW AND program MATCHES "${VIEW_PROGRAMS}")
        string(APPEND lines "test view-${VIEW}:${name}\n${body}"
            "arg ${VIEW_LAUNCHER}\narg ${VIEW}\narg --\n${args}")
        math(EXPR viewed "${viewed} + 1")
    endif()
endforeach()

file(WRITE ${LIST} "${lines}")
list(JOIN host_tests "\n" host_text)
if(host_tests)
    string(APPEND host_text "\n")
endif()
file(WRITE ${HOST_LIST} "${host_text}")
list(LENGTH host_tests host_count)
math(EXPR listed "${listed} + ${viewed}")
set(view_note "")
if(DEFINED VIEW)
    set(view_note " (${viewed} of them again under the view of ${VIEW})")
endif()
message(STATUS "test-list.cmake: ${listed} tests for the image${view_note}, ${host_count} for "
    "the build machine, ${left_out} left out (labels: ${EXCLUDE_LABELS})")

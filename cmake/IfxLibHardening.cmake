# The packaged builds (the package and rpm presets) are compiled and linked with the flags
# Debian's own package builds use, every hardening feature on (DEB_BUILD_MAINT_OPTIONS
# hardening=+all): _FORTIFY_SOURCE, the stack protector, format-string errors, full RELRO
# with immediate binding (bindnow). Included before any target is made, so that every
# directory's flags carry them. A cross build asks for the target architecture's set.
# Asked from the source tree, as a Debian build would: -ffile-prefix-map then maps it to
# "." in the debugging information.

find_program(IFXLIB_DPKG_BUILDFLAGS dpkg-buildflags)

set(hardeningEnvironment DEB_BUILD_MAINT_OPTIONS=hardening=+all)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "ppc64")
    list(APPEND hardeningEnvironment DEB_HOST_ARCH=ppc64)
endif()

# ifxlib_buildflags(KIND VARIABLE): dpkg-buildflags --get KIND into VARIABLE.
function(ifxlib_buildflags kind variable)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ${hardeningEnvironment}
            ${IFXLIB_DPKG_BUILDFLAGS} --get ${kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE flags
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed: ${result}")
    endif()
    set(${variable} "${flags}" PARENT_SCOPE)
endfunction()

if(IFXLIB_DPKG_BUILDFLAGS)
    ifxlib_buildflags(CPPFLAGS IFXLIB_HARDENING_CPPFLAGS)
    ifxlib_buildflags(CXXFLAGS IFXLIB_HARDENING_CXXFLAGS)
    ifxlib_buildflags(LDFLAGS IFXLIB_HARDENING_LDFLAGS)
else()
    # A builder without dpkg (the oldest RPM target) gets the same features by name, as
    # the distributions' own RPM builds set them.
    set(IFXLIB_HARDENING_CPPFLAGS "-D_FORTIFY_SOURCE=2")
    set(IFXLIB_HARDENING_CXXFLAGS "-O2 -fstack-protector-strong -Wformat -Werror=format-security")
    set(IFXLIB_HARDENING_LDFLAGS "-Wl,-z,relro -Wl,-z,now")
endif()
string(APPEND CMAKE_CXX_FLAGS " ${IFXLIB_HARDENING_CPPFLAGS} ${IFXLIB_HARDENING_CXXFLAGS}")
foreach(kind EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${IFXLIB_HARDENING_LDFLAGS}")
endforeach()
message(STATUS "Packaged build's flags: ${IFXLIB_HARDENING_CPPFLAGS} ${IFXLIB_HARDENING_CXXFLAGS}; "
    "linking: ${IFXLIB_HARDENING_LDFLAGS}")

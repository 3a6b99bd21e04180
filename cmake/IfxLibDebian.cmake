# Debian packages of the installed tree, one per install component (IfxLibInstall.cmake):
#   cmake --preset package && cmake --build --preset package && cpack --preset package
# The package preset installs into /usr with the multiarch library directory and no
# RUNPATH (IFXLIB_INSTALL_RPATH OFF): the system's dynamic linker finds the libraries.

set(IFXLIB_DEB_SOURCE_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(IFXLIB_DEB_SOVERSION ${PROJECT_VERSION_MAJOR})
set(IFXLIB_DEB_VERSION ${PROJECT_VERSION})

# Component to package name. The runtime packages carry the soname's major version, as
# Debian names shared library packages, so that two majors can be installed side by side.
set(IFXLIB_DEB_Runtime_NAME libifxlib${IFXLIB_DEB_SOVERSION})
set(IFXLIB_DEB_Development_NAME libifxlib-dev)
set(IFXLIB_DEB_Tool_NAME ifxctl)
set(IFXLIB_DEB_HostRuntime_NAME libifxlib-host${IFXLIB_DEB_SOVERSION})
set(IFXLIB_DEB_HostDevelopment_NAME libifxlib-host-dev)
set(IFXLIB_DEB_COMPONENTS Runtime Development Tool HostRuntime HostDevelopment)

# The host services, libJxLib.so.1 and libZuUtils.so.1, as a virtual package: the stand-ins
# provide it, and so must the backup system's package of the real libraries (the contract
# is in README.md, "Debian and RPM packages"). What needs the host services depends on the
# stand-ins or any provider, the stand-ins named first so that apt picks them when nothing
# provides it yet. Both ship the same sonames at the same paths, so only one provider can
# be installed: the stand-ins conflict with, and replace, every other.
set(IFXLIB_DEB_HOST_SERVICES jxlib-zuutils${IFXLIB_DEB_SOVERSION})
set(IFXLIB_DEB_HOST_DEPENDENCY
    "${IFXLIB_DEB_HostRuntime_NAME} (>= ${IFXLIB_DEB_VERSION}) | ${IFXLIB_DEB_HOST_SERVICES}")

# Multi-Arch: the libraries and their development files can be installed for several
# architectures at once (every file lies under the multiarch directory or is the same on
# all); ifxctl's interface, its command line, is the same on every architecture. CPack has
# no setting for the field: cmake/IfxLibDebianControl.cmake adds it once the packages are
# made.
set(CPACK_IFXLIB_DEB_MULTIARCH
    ${IFXLIB_DEB_Runtime_NAME}=same
    ${IFXLIB_DEB_Development_NAME}=same
    ${IFXLIB_DEB_Tool_NAME}=foreign
    ${IFXLIB_DEB_HostRuntime_NAME}=same
    ${IFXLIB_DEB_HostDevelopment_NAME}=same)
# A package built against the stand-ins (dpkg-shlibdeps reads their shlibs file) must
# accept the real libraries as well.
set(CPACK_IFXLIB_DEB_HOST_PACKAGE ${IFXLIB_DEB_HostRuntime_NAME})
set(CPACK_IFXLIB_DEB_HOST_SERVICES ${IFXLIB_DEB_HOST_SERVICES})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/IfxLibDebianControl.cmake)

# The library's symbols file, packaging/debian/libifxlib<N>.symbols (C++ names, as
# written in the header): dpkg-gensymbols -c4 compares it with what the library built
# here exports and fails the build on any symbol added or lost, so an export removed by
# accident cannot reach a package. What it writes goes into the runtime package.
find_program(IFXLIB_DPKG_GENSYMBOLS dpkg-gensymbols REQUIRED)
set(IFXLIB_DEB_SYMBOLS_TEMPLATE ${IFXLIB_DEB_SOURCE_DIR}/${IFXLIB_DEB_Runtime_NAME}.symbols)
set(IFXLIB_DEB_SYMBOLS ${CMAKE_CURRENT_BINARY_DIR}/debian/${IFXLIB_DEB_Runtime_NAME}/symbols)
add_custom_command(OUTPUT ${IFXLIB_DEB_SYMBOLS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/debian/${IFXLIB_DEB_Runtime_NAME}
    COMMAND ${IFXLIB_DPKG_GENSYMBOLS} -p${IFXLIB_DEB_Runtime_NAME} -v${IFXLIB_DEB_VERSION} -c4
        -I${IFXLIB_DEB_SYMBOLS_TEMPLATE} -O${IFXLIB_DEB_SYMBOLS} -e$<TARGET_FILE:IfxLib>
    DEPENDS IfxLib ${IFXLIB_DEB_SYMBOLS_TEMPLATE}
    COMMENT "Checking libIfxLib's exports against ${IFXLIB_DEB_Runtime_NAME}.symbols"
    VERBATIM)
add_custom_target(ifxlib_debian_symbols ALL DEPENDS ${IFXLIB_DEB_SYMBOLS})

# Every package carries its copyright file and the changelog (the packages are native:
# the changelog is the project's own, compressed as policy asks, without a timestamp).
set(IFXLIB_DEB_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9 -n -c ${IFXLIB_DEB_SOURCE_DIR}/changelog
    OUTPUT_FILE ${IFXLIB_DEB_CHANGELOG}
    RESULT_VARIABLE gzipResult)
if(NOT gzipResult EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed: ${gzipResult}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${IFXLIB_DEB_SOURCE_DIR}/changelog)
foreach(component IN LISTS IFXLIB_DEB_COMPONENTS)
    set(package ${IFXLIB_DEB_${component}_NAME})
    install(FILES ${IFXLIB_DEB_SOURCE_DIR}/copyright ${IFXLIB_DEB_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
        COMPONENT ${component})
    if(EXISTS ${IFXLIB_DEB_SOURCE_DIR}/${package}.lintian-overrides)
        install(FILES ${IFXLIB_DEB_SOURCE_DIR}/${package}.lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
            RENAME ${package}
            COMPONENT ${component})
    endif()
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ifxlib)
set(CPACK_PACKAGE_VERSION ${IFXLIB_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT "IfxLib maintainers <maintainers@users.noreply.c-seed-2c1224d5.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL ${IFXLIB_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ifxlib)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# dpkg-shlibdeps states what the binaries need from the system (libc6, libstdc++6, ...).
# It cannot see our own libraries, which are staged in other components: it finds them
# in the build tree (so it does not fail) but knows no package for them, so the
# dependencies between our packages are stated below, exactly, since they are built
# together.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/IfxLib ${PROJECT_BINARY_DIR}/host/JxLib ${PROJECT_BINARY_DIR}/host/ZuUtils)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${IFXLIB_DEB_HOST_DEPENDENCY}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${IFXLIB_DEB_SOURCE_DIR}/triggers ${IFXLIB_DEB_SYMBOLS})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"control of Informix utilities for backup agents
IfxLib is loaded by the processes of a database backup agent to drive Informix
utilities: it launches a utility as a child under the Informix user with chosen
environment variables, talks to it over two pipes and reports its exit status
from a wait thread. It also reads ONCONFIG parameters and the agent's settings
and identity, splits command lines and offers Windows-style system shims.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${IFXLIB_DEB_Runtime_NAME} (= ${IFXLIB_DEB_VERSION}), ${IFXLIB_DEB_HostDevelopment_NAME} (= ${IFXLIB_DEB_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"control of Informix utilities for backup agents - development files
IfxLib is loaded by the processes of a database backup agent to drive Informix
utilities. This package holds its header, the CMake package for
find_package(IfxLib CONFIG), the pkg-config file ifxlib.pc and the link name.")

set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
# ifxctl links libJxLib.so.1 itself, not only through libIfxLib.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS
    "${IFXLIB_DEB_Runtime_NAME} (>= ${IFXLIB_DEB_VERSION}), ${IFXLIB_DEB_HOST_DEPENDENCY}")
set(CPACK_DEBIAN_TOOL_DESCRIPTION
"operator's command-line tool over IfxLib
ifxctl runs a utility the way a backup agent launches an Informix utility (as
another user, with chosen environment variables, over two pipes) and reports
its exit status; it also reads ONCONFIG parameters and the agent's settings,
and exposes the library's text and system shims. With a manual page and bash
completion.")

set(CPACK_DEBIAN_HOSTRUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_HOSTRUNTIME_PACKAGE_CONTROL_EXTRA ${IFXLIB_DEB_SOURCE_DIR}/triggers)
set(CPACK_DEBIAN_HOSTRUNTIME_PACKAGE_PROVIDES ${IFXLIB_DEB_HOST_SERVICES})
set(CPACK_DEBIAN_HOSTRUNTIME_PACKAGE_CONFLICTS ${IFXLIB_DEB_HOST_SERVICES})
set(CPACK_DEBIAN_HOSTRUNTIME_PACKAGE_REPLACES ${IFXLIB_DEB_HOST_SERVICES})
set(CPACK_DEBIAN_HOSTRUNTIME_DESCRIPTION
"stand-ins for the backup system's JxLib and ZuUtils libraries
IfxLib uses two libraries of the backup system it belongs to: JxLib (logging,
threads, processes, users) and ZuUtils (strings, files, errors). This package
holds small stand-ins for both, so that IfxLib runs on a machine without the
backup system. It provides the virtual package jxlib-zuutils1: on a customer's
machine the backup system's package of the real libraries provides it instead.")

set(CPACK_DEBIAN_HOSTDEVELOPMENT_PACKAGE_SECTION libdevel)
# The link names point at the sonames, which the real libraries ship as well.
set(CPACK_DEBIAN_HOSTDEVELOPMENT_PACKAGE_DEPENDS "${IFXLIB_DEB_HOST_DEPENDENCY}")
set(CPACK_DEBIAN_HOSTDEVELOPMENT_DESCRIPTION
"stand-ins for the backup system's JxLib and ZuUtils - development files
Headers and link names of the stand-ins for the backup system's JxLib and
ZuUtils libraries, which IfxLib's own header and CMake package refer to.")

include(CPack)

# RPM packages of the installed tree, one per install component (IfxLibInstall.cmake), for
# the RPM-based distributions (RHEL and SLES class) that most database hosts and the
# big-endian ppc64 ones run:
#   cmake --preset rpm && cmake --build --preset rpm && cpack --preset rpm
#   the same with rpm-ppc64 for big-endian PowerPC from the cross build
# The rpm presets install into /usr with the distributions' lib64 library directory and
# no RUNPATH. rpmbuild records each binary's needs as sonames with the symbol versions
# they use (libc.so.6(GLIBC_2.34)(64bit), libJxLib.so.1()(64bit), ...): a package built on
# this machine requires this machine's glibc, and so installs on no RHEL 7 or 8 machine.
# The packages that ship are built the same way on the oldest target (README.md).

set(IFXLIB_RPM_SOURCE_DIR ${PROJECT_SOURCE_DIR}/packaging/rpm)
set(IFXLIB_RPM_VERSION ${PROJECT_VERSION})
set(IFXLIB_RPM_RELEASE 1)

# Component to package name, as the RPM distributions name them: the library's package
# after the project, its development files with -devel.
set(IFXLIB_RPM_Runtime_NAME ifxlib)
set(IFXLIB_RPM_Development_NAME ifxlib-devel)
set(IFXLIB_RPM_Tool_NAME ifxctl)
set(IFXLIB_RPM_HostRuntime_NAME ifxlib-host)
set(IFXLIB_RPM_HostDevelopment_NAME ifxlib-host-devel)
set(IFXLIB_RPM_COMPONENTS Runtime Development Tool HostRuntime HostDevelopment)

set(CPACK_GENERATOR RPM)
set(CPACK_PACKAGE_NAME ifxlib)
set(CPACK_PACKAGE_VERSION ${IFXLIB_RPM_VERSION})
set(CPACK_PACKAGE_VENDOR "The IfxLib developers")
set(CPACK_PACKAGE_CONTACT "IfxLib maintainers <maintainers@users.noreply.c-seed-2c1224d5.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL ${IFXLIB_RPM_COMPONENTS})
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${IFXLIB_RPM_RELEASE})
set(CPACK_RPM_PACKAGE_LICENSE "Proprietary")
set(CPACK_RPM_PACKAGE_GROUP "System Environment/Libraries")
set(CPACK_RPM_CHANGELOG_FILE ${IFXLIB_RPM_SOURCE_DIR}/changelog)
set(CPACK_STRIP_FILES ON)
# rpmbuild fills the Packager tag from the packager macro. No /usr/lib/.build-id links:
# the shipping packages come from RHEL 7's rpm, which makes none, and the file lists of
# both builds should be alike.
set(IFXLIB_RPM_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}\n%define _build_id_links none")
# The stripped binaries are what ships; no separate debuginfo package.
set(CPACK_RPM_DEBUGINFO_PACKAGE OFF)
# Directories the system owns (filesystem and the like) stay out of our file lists.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/doc /usr/lib64/cmake /usr/lib64/pkgconfig /usr/share/bash-completion
    /usr/share/bash-completion/completions /usr/share/man /usr/share/man/man1)

if(CMAKE_CROSSCOMPILING)
    if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ppc64")
        message(FATAL_ERROR "RPM packages are made for x86_64 and, cross-built, ppc64 only")
    endif()
    set(CPACK_RPM_PACKAGE_ARCHITECTURE ppc64)
    # rpmbuild's own strip and objdump passes would meet another machine's binaries: they
    # get the cross tools (CPack has stripped the files already).
    string(APPEND IFXLIB_RPM_MORE_DEFINE
        "\n%define __strip ${CMAKE_STRIP}\n%define __objdump ${CMAKE_OBJDUMP}")
endif()
set(CPACK_RPM_SPEC_MORE_DEFINE "${IFXLIB_RPM_MORE_DEFINE}")

# Every package carries the copyright in its documentation directory (rpmbuild marks
# what lies there as documentation).
foreach(component IN LISTS IFXLIB_RPM_COMPONENTS)
    string(TOUPPER ${component} upper)
    set(package ${IFXLIB_RPM_${component}_NAME})
    set(CPACK_RPM_${upper}_PACKAGE_NAME ${package})
    set(CPACK_RPM_${upper}_FILE_NAME RPM-DEFAULT)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
        COMPONENT ${component})
endforeach()

# The libraries sit in the dynamic linker's directories: refresh its cache (RHEL 7 has no
# file triggers that would do it).
set(IFXLIB_RPM_LDCONFIG ${IFXLIB_RPM_SOURCE_DIR}/ldconfig.sh)
foreach(component RUNTIME HOSTRUNTIME)
    set(CPACK_RPM_${component}_POST_INSTALL_SCRIPT_FILE ${IFXLIB_RPM_LDCONFIG})
    set(CPACK_RPM_${component}_POST_UNINSTALL_SCRIPT_FILE ${IFXLIB_RPM_LDCONFIG})
endforeach()

# Dependencies between our packages: rpmbuild finds what each binary needs by soname, so
# the library needs libJxLib.so.1 and libZuUtils.so.1, which the stand-ins provide and so
# would the backup system's package of the real libraries, without naming either. The
# development packages need their runtime at exactly this version, as RPM -devel packages
# do; the host development files need the host sonames only, from whichever package.
set(IFXLIB_RPM_EXACT "${IFXLIB_RPM_VERSION}-${IFXLIB_RPM_RELEASE}")
set(CPACK_RPM_RUNTIME_PACKAGE_SUMMARY "Control of Informix utilities for backup agents")
set(CPACK_RPM_RUNTIME_PACKAGE_DESCRIPTION
"IfxLib is loaded by the processes of a database backup agent to drive Informix
utilities: it launches a utility as a child under the Informix user with chosen
environment variables, talks to it over two pipes and reports its exit status
from a wait thread. It also reads ONCONFIG parameters and the agent's settings
and identity, splits command lines and offers Windows-style system shims.")

set(CPACK_RPM_DEVELOPMENT_PACKAGE_SUMMARY "Development files of IfxLib")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_GROUP "Development/Libraries")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_REQUIRES
    "${IFXLIB_RPM_Runtime_NAME} = ${IFXLIB_RPM_EXACT}, ${IFXLIB_RPM_HostDevelopment_NAME} = ${IFXLIB_RPM_EXACT}")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_DESCRIPTION
"The header of IfxLib, the CMake package for find_package(IfxLib CONFIG), the
pkg-config file ifxlib.pc and the link name.")

set(CPACK_RPM_TOOL_PACKAGE_SUMMARY "Operator's command-line tool over IfxLib")
set(CPACK_RPM_TOOL_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_TOOL_PACKAGE_REQUIRES "${IFXLIB_RPM_Runtime_NAME} >= ${IFXLIB_RPM_VERSION}")
set(CPACK_RPM_TOOL_PACKAGE_DESCRIPTION
"ifxctl runs a utility the way a backup agent launches an Informix utility (as
another user, with chosen environment variables, over two pipes) and reports
its exit status; it also reads ONCONFIG parameters and the agent's settings,
and exposes the library's text and system shims. With a manual page and bash
completion.")

set(CPACK_RPM_HOSTRUNTIME_PACKAGE_SUMMARY "Stand-ins for the backup system's JxLib and ZuUtils")
set(CPACK_RPM_HOSTRUNTIME_PACKAGE_DESCRIPTION
"IfxLib uses two libraries of the backup system it belongs to: JxLib (logging,
threads, processes, users) and ZuUtils (strings, files, errors). This package
holds small stand-ins for both, so that IfxLib runs on a machine without the
backup system; the backup system's package of the real libraries, which ships
the same sonames, takes its place.")

set(CPACK_RPM_HOSTDEVELOPMENT_PACKAGE_SUMMARY "Development files of the JxLib and ZuUtils stand-ins")
set(CPACK_RPM_HOSTDEVELOPMENT_PACKAGE_GROUP "Development/Libraries")
set(CPACK_RPM_HOSTDEVELOPMENT_PACKAGE_REQUIRES "libJxLib.so.1()(64bit), libZuUtils.so.1()(64bit)")
set(CPACK_RPM_HOSTDEVELOPMENT_PACKAGE_DESCRIPTION
"Headers and link names of the stand-ins for the backup system's JxLib and
ZuUtils libraries, which IfxLib's own header and CMake package refer to.")

include(CPack)

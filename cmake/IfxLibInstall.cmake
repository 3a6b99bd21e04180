# Install rules shared by our three shared libraries; the package files that describe
# them are written by IfxLibPackage.cmake once every target exists.
#
# Install components, one per Debian package (cmake/IfxLibDebian.cmake) and per RPM
# package (cmake/IfxLibRpm.cmake):
#   Runtime          libIfxLib.so.N                          libifxlib<N>        ifxlib
#   Development      IfxLib's header, CMake package, .pc,    libifxlib-dev       ifxlib-devel
#                    unversioned link
#   Tool             ifxctl, its manual page and completion  ifxctl              ifxctl
#   HostRuntime      the host stand-ins' libraries           libifxlib-host<N>   ifxlib-host
#   HostDevelopment  their headers and unversioned links     libifxlib-host-dev  ifxlib-host-devel
# The host stand-ins are components of their own because the backup system's real
# libraries take their place on a customer's machine: nothing of them may ride inside
# the library's own packages.

# A tree installed under a prefix of its own (a tarball, a test prefix) finds its
# libraries beside itself; installed into the system's library directory, as the Debian
# packages do, the dynamic linker finds them without help and a RUNPATH would only
# override the system's search order (and local policy), so the packages leave it out.
option(IFXLIB_INSTALL_RPATH "Give installed libraries and programs a RUNPATH relative to themselves" ON)

# ifxlib_install_shared_library(TARGET [PREFIX]): the runtime library goes with the
# <PREFIX>Runtime component, the unversioned link name with <PREFIX>Development, as
# distributions split them.
function(ifxlib_install_shared_library target)
    set(prefix "${ARGV1}")
    if(IFXLIB_INSTALL_RPATH)
        # IfxLib needs the host libraries and finds them beside itself, wherever the tree
        # was installed.
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()
    install(TARGETS ${target}
        EXPORT IfxLibTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT ${prefix}Runtime
            NAMELINK_COMPONENT ${prefix}Development)
endfunction()

# A program of ours that runs from the installed tree: it finds the libraries relative to
# its own directory, so a tree moved elsewhere still works.
function(ifxlib_install_program target component)
    if(IFXLIB_INSTALL_RPATH)
        file(RELATIVE_PATH libraryDir
            ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
            ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libraryDir}")
    endif()
    install(TARGETS ${target}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT ${component})
endfunction()

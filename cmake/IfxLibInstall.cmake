# Install rules shared by our three shared libraries; the package files that describe
# them are written by IfxLibPackage.cmake once every target exists.

# The runtime library goes with the Runtime component; the unversioned link name goes
# with the headers, as distributions split them.
function(ifxlib_install_shared_library target)
    # IfxLib needs the host libraries and finds them beside itself, wherever the tree
    # was installed.
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target}
        EXPORT IfxLibTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT Runtime
            NAMELINK_COMPONENT Development)
endfunction()

# A program of ours that runs from the installed tree: it finds the libraries relative to
# its own directory, so a tree moved elsewhere still works.
function(ifxlib_install_program target)
    file(RELATIVE_PATH libraryDir
        ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
        ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libraryDir}")
    install(TARGETS ${target}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT Runtime)
endfunction()

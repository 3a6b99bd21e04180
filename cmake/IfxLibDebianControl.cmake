# Run by cpack once the Debian packages are made (CPACK_POST_BUILD_SCRIPTS): adds what
# CPack's DEB generator has no setting for, then packs each package again.
#   Multi-Arch   the value CPACK_IFXLIB_DEB_MULTIARCH gives the package (NAME=VALUE)
#   shlibs       the host stand-ins' entries accept any provider of the host services, so
#                that a package built against the stand-ins installs beside the real
#                libraries too

find_program(dpkgDeb dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    get_filename_component(file ${deb} NAME)
    string(REGEX REPLACE "_.*" "" package ${file})
    set(multiArch "")
    foreach(entry IN LISTS CPACK_IFXLIB_DEB_MULTIARCH)
        if(entry MATCHES "^${package}=(.*)$")
            set(multiArch ${CMAKE_MATCH_1})
        endif()
    endforeach()
    if(multiArch STREQUAL "")
        message(FATAL_ERROR "no Multi-Arch value for ${package}")
    endif()

    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/control-${package})
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND ${dpkgDeb} --raw-extract ${deb} ${tree} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not take ${file} apart: ${result}")
    endif()

    file(READ ${tree}/DEBIAN/control control)
    if(control MATCHES "\nMulti-Arch:")
        message(FATAL_ERROR "${file} has a Multi-Arch field already")
    endif()
    string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: ${multiArch}\n"
        control "${control}")
    if(NOT control MATCHES "\nMulti-Arch: ${multiArch}\n")
        message(FATAL_ERROR "${file} has no Architecture field to put Multi-Arch beside")
    endif()
    file(WRITE ${tree}/DEBIAN/control "${control}")

    if(package STREQUAL CPACK_IFXLIB_DEB_HOST_PACKAGE)
        file(READ ${tree}/DEBIAN/shlibs shlibs)
        string(REGEX REPLACE "([^\n]*\\))(\n|$)" "\\1 | ${CPACK_IFXLIB_DEB_HOST_SERVICES}\\2"
            shlibs "${shlibs}")
        file(WRITE ${tree}/DEBIAN/shlibs "${shlibs}")
    endif()

    # --root-owner-group: a package made by a user other than root still installs files
    # of root's, as CPack made them.
    execute_process(COMMAND ${dpkgDeb} --root-owner-group -Zxz --build ${tree} ${deb}
        OUTPUT_QUIET RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not pack ${file} again: ${result}")
    endif()
    file(REMOVE_RECURSE ${tree})
    message(STATUS "${file}: Multi-Arch: ${multiArch}")
endforeach()

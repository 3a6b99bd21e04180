# What a consumer of the installed tree finds: a CMake package for
# find_package(IfxLib CONFIG) with the imported target IfxLib::IfxLib, and ifxlib.pc
# for pkg-config.

include(CMakePackageConfigHelpers)

set(IFXLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/IfxLib)

install(EXPORT IfxLibTargets
    NAMESPACE IfxLib::
    FILE IfxLibTargets.cmake
    DESTINATION ${IFXLIB_CMAKE_DIR}
    COMPONENT Development)

configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/IfxLibConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/IfxLibConfig.cmake
    INSTALL_DESTINATION ${IFXLIB_CMAKE_DIR})
# One soname per major version: a consumer built against 1.x runs with any later 1.y.
write_basic_package_version_file(
    ${CMAKE_CURRENT_BINARY_DIR}/IfxLibConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/IfxLibConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/IfxLibConfigVersion.cmake
    DESTINATION ${IFXLIB_CMAKE_DIR}
    COMPONENT Development)

# The .pc file names its directories relative to where it lies, so that it stays right
# for "cmake --install --prefix", DESTDIR staging and a tree moved after installing.
set(IFXLIB_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(IFXLIB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(IFXLIB_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(IFXLIB_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
    file(RELATIVE_PATH toPrefix /prefix/${IFXLIB_PC_DIR} /prefix)
    string(REGEX REPLACE "/$" "" toPrefix "${toPrefix}")
    set(IFXLIB_PC_PREFIX "\${pcfiledir}/${toPrefix}")
    set(IFXLIB_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(IFXLIB_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/ifxlib.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ifxlib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ifxlib.pc
    DESTINATION ${IFXLIB_PC_DIR}
    COMPONENT Development)

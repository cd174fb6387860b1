# Installs the library with its public headers, a CMake package (find_package(VeltoKit)) and a
# pkg-config file (pkg-config veltokit). Included from veltokit/CMakeLists.txt.
include(CMakePackageConfigHelpers)

# Everything here is the component VeltoKit: cmake --install <build> --component VeltoKit.
install(TARGETS veltokit EXPORT VeltoKitTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT VeltoKit
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/veltokit/include/velto
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT VeltoKit)

set(VELTOKIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VeltoKit)
install(EXPORT VeltoKitTargets NAMESPACE VeltoKit:: DESTINATION ${VELTOKIT_CMAKE_DIR}
        COMPONENT VeltoKit)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/VeltoKitConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/VeltoKitConfig.cmake
                              INSTALL_DESTINATION ${VELTOKIT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VeltoKitConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VeltoKitConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/VeltoKitConfigVersion.cmake
        DESTINATION ${VELTOKIT_CMAKE_DIR} COMPONENT VeltoKit)

file(RELATIVE_PATH VELTOKIT_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/veltokit.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/veltokit.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/veltokit.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT VeltoKit)

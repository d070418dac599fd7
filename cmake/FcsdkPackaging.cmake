# Installation: the shared library, the public headers, a CMake package with a version file and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set(FCSDK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/FusionComputeSDKWrapper)

install(TARGETS FusionComputeSDKWrapper
    EXPORT FusionComputeSDKWrapperTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(GLOB FCSDK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${FCSDK_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/FusionComputeSDKWrapper)

install(EXPORT FusionComputeSDKWrapperTargets
    NAMESPACE FusionComputeSDKWrapper::
    DESTINATION ${FCSDK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FusionComputeSDKWrapperConfig.cmake.in
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfig.cmake
    INSTALL_DESTINATION ${FCSDK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfig.cmake
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfigVersion.cmake
    DESTINATION ${FCSDK_CMAKE_DIR})

# The .pc file finds the prefix from its own location, so an installed tree can be moved.
file(RELATIVE_PATH FCSDK_PC_PREFIX_FROM_PCDIR "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" FCSDK_PC_PREFIX_FROM_PCDIR "${FCSDK_PC_PREFIX_FROM_PCDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/fusioncompute-sdk-wrapper.pc.in
    ${PROJECT_BINARY_DIR}/fusioncompute-sdk-wrapper.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/fusioncompute-sdk-wrapper.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installation: the shared library, the public headers, a CMake package with a version file and a
# pkg-config file; and Debian packages of them (cpack -G DEB). Every installed file belongs to one
# component, which becomes one package: runtime (the shared library), dev (headers, the linker name,
# CMake package, pkg-config file, documentation), fcctl, vrmsim and the Python module; fcctl and vrmsim
# each with its manual page, fcctl also with its bash completion.
include(CMakePackageConfigHelpers)

set(FCSDK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/FusionComputeSDKWrapper)

install(TARGETS FusionComputeSDKWrapper
    EXPORT FusionComputeSDKWrapperTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
file(GLOB FCSDK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${FCSDK_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/FusionComputeSDKWrapper
    COMPONENT dev)

install(EXPORT FusionComputeSDKWrapperTargets
    NAMESPACE FusionComputeSDKWrapper::
    DESTINATION ${FCSDK_CMAKE_DIR}
    COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FusionComputeSDKWrapperConfig.cmake.in
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfig.cmake
    INSTALL_DESTINATION ${FCSDK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfig.cmake
    ${PROJECT_BINARY_DIR}/FusionComputeSDKWrapperConfigVersion.cmake
    DESTINATION ${FCSDK_CMAKE_DIR}
    COMPONENT dev)

# The .pc file finds the prefix from its own location, so an installed tree can be moved.
file(RELATIVE_PATH FCSDK_PC_PREFIX_FROM_PCDIR "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" FCSDK_PC_PREFIX_FROM_PCDIR "${FCSDK_PC_PREFIX_FROM_PCDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/fusioncompute-sdk-wrapper.pc.in
    ${PROJECT_BINARY_DIR}/fusioncompute-sdk-wrapper.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/fusioncompute-sdk-wrapper.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/ARCHITECTURE.md
              ${PROJECT_SOURCE_DIR}/docs/FCCTL.md ${PROJECT_SOURCE_DIR}/docs/VRMSIM.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT dev)

# Manual pages of the programs, made from their --help and --version by help2man when it is installed;
# each goes into its program's component.
find_program(HELP2MAN_EXECUTABLE help2man)
set(_fcsdk_man_fcctl "command-line access to a FusionCompute VRM")
set(_fcsdk_man_vrmsim "stateful HTTPS simulator of a FusionCompute VRM")
foreach(_program fcctl vrmsim)
    if(HELP2MAN_EXECUTABLE AND TARGET ${_program})
        set(_page ${PROJECT_BINARY_DIR}/man/${_program}.1)
        add_custom_command(OUTPUT ${_page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
            COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section 1 "--name=${_fcsdk_man_${_program}}"
                    --output ${_page} $<TARGET_FILE:${_program}>
            DEPENDS ${_program}
            COMMENT "Making the manual page of ${_program}")
        add_custom_target(${_program}_man ALL DEPENDS ${_page})
        install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${_program})
    endif()
endforeach()

# Debian packages: cpack -G DEB in the build directory (after a full build) writes one .deb per
# component. The dependencies on system libraries come from dpkg-shlibdeps; those between the packages
# from the component dependencies, at exactly this version.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fusioncompute-sdk-wrapper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "FusionComputeSDKWrapper maintainers <fcsdk-maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "C++ library that controls a FusionCompute VRM for backup software")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(FCSDK_BUILD_TOOLS)
    list(APPEND CPACK_COMPONENTS_ALL fcctl vrmsim)
endif()
if(FCSDK_PYTHON_DEB_PACKAGE AND TARGET fusioncompute)
    list(APPEND CPACK_COMPONENTS_ALL python_deb)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libfusioncompute-sdk-wrapper${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "FusionCompute VRM client library (shared library)\n The library through which backup and recovery software controls a FusionCompute VRM over HTTPS/JSON.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libfusioncompute-sdk-wrapper-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "FusionCompute VRM client library (development files)\n Headers, CMake package, pkg-config file and documentation.")
set(CPACK_DEBIAN_FCCTL_PACKAGE_NAME fcctl)
set(CPACK_DEBIAN_FCCTL_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_FCCTL_DEPENDS runtime)
set(CPACK_COMPONENT_FCCTL_DESCRIPTION
    "Command-line tool for FusionCompute VRMs\n Inventory, snapshots, changed blocks, VM management and backups through the library.")
set(CPACK_DEBIAN_VRMSIM_PACKAGE_NAME vrmsim)
set(CPACK_DEBIAN_VRMSIM_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_VRMSIM_DESCRIPTION
    "Simulator of a FusionCompute VRM\n A stateful HTTPS simulator of the VRM's REST interface for tests and demos.")
set(CPACK_DEBIAN_PYTHON_DEB_PACKAGE_NAME python3-fusioncompute)
set(CPACK_DEBIAN_PYTHON_DEB_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_DEB_PACKAGE_DEPENDS "${FCSDK_PYTHON_DEB_DEPENDS}")
set(CPACK_COMPONENT_PYTHON_DEB_DEPENDS runtime)
set(CPACK_COMPONENT_PYTHON_DEB_DESCRIPTION
    "FusionCompute VRM client library (Python module)\n The module fusioncompute: the library's wrapper, records and bitmap extents for Python 3.")
include(CPack)

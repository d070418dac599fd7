# Warnings, visibility and sanitizers shared by every target of the project.
include(CheckCXXCompilerFlag)

option(FCSDK_WERROR "Treat warnings as errors" OFF)
set(FCSDK_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")

set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

add_compile_options(-Wall -Wextra)
if(FCSDK_WERROR)
    add_compile_options(-Werror)
endif()

if(FCSDK_SANITIZE)
    set(_fcsdk_sanitize_flags "-fsanitize=${FCSDK_SANITIZE}" -fno-omit-frame-pointer)
    if(FCSDK_SANITIZE MATCHES "undefined")
        list(APPEND _fcsdk_sanitize_flags -fno-sanitize-recover=undefined)
    endif()
    set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=${FCSDK_SANITIZE}")
    check_cxx_compiler_flag("-fsanitize=${FCSDK_SANITIZE}" FCSDK_HAVE_SANITIZER)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(NOT FCSDK_HAVE_SANITIZER)
        message(FATAL_ERROR "The compiler cannot build with -fsanitize=${FCSDK_SANITIZE}")
    endif()
    add_compile_options(${_fcsdk_sanitize_flags})
    add_link_options(${_fcsdk_sanitize_flags})
endif()

find_program(FCSDK_CCACHE ccache)
if(FCSDK_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${FCSDK_CCACHE})
endif()

# Cross build for Debian's arm64: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(CGI_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

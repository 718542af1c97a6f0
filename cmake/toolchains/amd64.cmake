# Cross build for Debian's amd64: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/amd64.cmake
set(CGI_ARCH amd64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

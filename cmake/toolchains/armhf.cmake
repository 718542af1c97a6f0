# Cross build for Debian's armhf: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CGI_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

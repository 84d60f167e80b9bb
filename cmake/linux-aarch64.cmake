# 64-bit ARM Linux: the unit tests with the aarch64 stack clear, under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

# 64-bit IBM Z Linux (s390x), big-endian: the unit tests, where bytes are stored the
# other way round, under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

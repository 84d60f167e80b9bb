# 64-bit IBM Z Linux (s390x), big-endian: the unit tests, where bytes are stored the
# other way round. Built with clang for the target, over Debian's
# cross libraries and binutils for it (Debian's cross g++ conflicts with g++-multilib,
# which the 32-bit x86 build needs); linked statically and run under qemu-s390x.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET s390x-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET s390x-linux-gnu)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The host loads the shared library, and it the target's C++ runtime, from the
# cross libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)

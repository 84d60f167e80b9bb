# Shared part of the Linux cross toolchain files: CMAKE_SYSTEM_PROCESSOR names the
# target (s390x or aarch64). Built with clang for the target, over Debian's cross
# libraries and binutils for it (Debian's cross g++ conflicts with g++-multilib, which
# the 32-bit x86 build needs); linked statically and run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The host loads the shared library, and it the target's C++ runtime, from the
# cross libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${triple})

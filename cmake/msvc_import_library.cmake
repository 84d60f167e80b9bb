# lupex.lib, the import library that Visual Studio's linker (and lld-link) takes, made
# beside liblupex.dll.a from the same module definition with llvm-dlltool. On 32-bit
# x86 the definition lists the stdcall names with their decoration (blowfish@24); -k
# makes each decorated symbol of lupex.h (_blowfish@24) import the undecorated export
# (blowfish), as dlltool -k does for liblupex.dll.a.
find_program(LUPEX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(NOT LUPEX_LLVM_DLLTOOL)
  message(FATAL_ERROR "llvm-dlltool (Debian's llvm) makes lupex.lib: run scripts/setup.sh")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LUPEX_MSVC_LIB_OPTIONS -m i386 -k)
else()
  set(LUPEX_MSVC_LIB_OPTIONS -m i386:x86-64)
endif()
add_custom_command(TARGET lupex POST_BUILD
  COMMAND ${LUPEX_LLVM_DLLTOOL} ${LUPEX_MSVC_LIB_OPTIONS} -d lupex.def -l lupex.lib
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
# liblupex-2.lib, the same for the C API's DLL, from its module definition: C calling
# convention, so no decoration to map on 32-bit x86 either.
add_custom_command(TARGET lupex_api_dll POST_BUILD
  COMMAND ${LUPEX_LLVM_DLLTOOL} ${LUPEX_MSVC_LIB_OPTIONS} -d ${LUPEX_API_DEF}
          -l liblupex-${PROJECT_VERSION_MAJOR}.lib
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
install(FILES ${PROJECT_BINARY_DIR}/lupex.lib ${PROJECT_BINARY_DIR}/liblupex-${PROJECT_VERSION_MAJOR}.lib
  DESTINATION ${CMAKE_INSTALL_LIBDIR})

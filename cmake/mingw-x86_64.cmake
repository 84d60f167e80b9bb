# 64-bit Windows: lupex.dll for 64-bit hosts; its programs run here under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# 32-bit Windows: lupex.dll for 32-bit hosts; its programs run here under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

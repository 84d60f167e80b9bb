# find_package(lupex) for an installed tree: the imported targets lupex::lupex (the
# shared library with its header; on Windows the DLL and its import library),
# lupex::lupex_static (the static library with the header, which on Windows is the
# way to the C API) and, where the host is installed too, lupex::lupex-host (the
# command-line host).
include(${CMAKE_CURRENT_LIST_DIR}/lupexTargets.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/lupexHostTargets.cmake OPTIONAL)

# find_package(lupex) for an installed tree: the imported targets lupex::lupex (the
# shared library with its header) and lupex::lupex-host (the command-line host).
include(${CMAKE_CURRENT_LIST_DIR}/lupexTargets.cmake)

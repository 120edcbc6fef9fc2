# The launcher's sources that the wizard builds in too: the configuration's
# checks and staging, whom root trusts, the dependency check, the view of dpkg's locks and the
# names both executables use. Included by every build of the wizard's code.
set(LAUNCHER_SHARED_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(LAUNCHER_SHARED_SOURCES
    "${CMAKE_CURRENT_LIST_DIR}/config_staging.cpp" "${CMAKE_CURRENT_LIST_DIR}/config_staging.h"
    "${CMAKE_CURRENT_LIST_DIR}/lock_holders.cpp" "${CMAKE_CURRENT_LIST_DIR}/lock_holders.h"
    "${CMAKE_CURRENT_LIST_DIR}/package_dependencies.cpp" "${CMAKE_CURRENT_LIST_DIR}/package_dependencies.h"
    "${CMAKE_CURRENT_LIST_DIR}/program_output.cpp" "${CMAKE_CURRENT_LIST_DIR}/program_output.h"
    "${CMAKE_CURRENT_LIST_DIR}/trusted_owners.cpp" "${CMAKE_CURRENT_LIST_DIR}/trusted_owners.h"
    "${CMAKE_CURRENT_LIST_DIR}/shared_names.h" "${CMAKE_CURRENT_LIST_DIR}/text_parts.h")

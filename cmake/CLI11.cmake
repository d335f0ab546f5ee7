# CLI11 parses the command lines of velmor-cli and velmor-emulator. It is
# header-only, so a cross build takes the headers the host has: only the CLI
# folder is put on the include path, never the host's whole /usr/include.
include_guard(GLOBAL)
find_path(VELMOR_CLI11_INCLUDE_DIR CLI/CLI.hpp NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(velmor_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${velmor_cli11_dir})
file(CREATE_LINK ${VELMOR_CLI11_INCLUDE_DIR}/CLI ${velmor_cli11_dir}/CLI SYMBOLIC)
add_library(velmor_cli11 INTERFACE)
target_include_directories(velmor_cli11 SYSTEM INTERFACE ${velmor_cli11_dir})

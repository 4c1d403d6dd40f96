# Cross build for Windows x86_64 with Debian's MinGW-w64 (posix thread model:
# GoogleTest needs std::mutex). Programs and tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Each build tree gets a Wine prefix of its own (build/<tree>/wine): test runs
# of different trees never share COM ports or registry keys.
get_filename_component(PALVO_SCRIPTS_DIR ${CMAKE_CURRENT_LIST_DIR}/../scripts ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PALVO_SCRIPTS_DIR}/wine-run.sh --wine-dir ${CMAKE_BINARY_DIR}/wine)
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601)

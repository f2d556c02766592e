# Cross build of the 32-bit Windows DLL with Debian's mingw-w64 (posix
# thread model, so that std::thread and std::mutex exist). Used by the
# "windows" preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(STREVON_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${STREVON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${STREVON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${STREVON_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${STREVON_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${STREVON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here are run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No mingw runtime DLL may be needed next to any program or the driver.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Shared by the two Windows toolchains; each sets K5_MINGW_TRIPLE and the processor first.
# The -posix compilers carry std::mutex and std::thread; -static links libstdc++, libgcc and
# winpthreads in, so the DLLs need only system DLLs at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${K5_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${K5_MINGW_TRIPLE}-g++-posix)
# The DLL alone is compiled and linked by the win32-thread-model drivers, through this launcher
# (src/CMakeLists.txt): the -posix runtime (winpthreads) keeps a thread handle, an event and a TLS
# index per calling thread and per load that nothing frees at FreeLibrary. Tests and tools keep
# the -posix drivers, which GoogleTest and std::thread need.
set(K5_WIN32_THREAD_MODEL_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/win32-thread-model.sh)
set(CMAKE_RC_COMPILER ${K5_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${K5_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Windows test programs run under Wine, in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh")

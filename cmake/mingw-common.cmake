# What both mingw-w64 toolchain files share; TROVEX_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TROVEX_MINGW_TRIPLE})

# The -posix compilers: their C++ runtime has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${TROVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TROVEX_MINGW_TRIPLE}-g++-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${TROVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -O2, as the Linux build has it: GCC 12 at -O3 warns falsely (-Wrestrict)
# inside libstdc++'s string concatenation, which -Werror turns into errors.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")

# The programs and the plug-in carry their C and C++ runtime inside: nothing
# but system libraries has to travel with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

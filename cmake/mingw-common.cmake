# Shared by both MinGW-w64 toolchain files: the posix-threads compilers, a static runtime, and
# dependencies looked up only in the target's own folders.
set(CMAKE_C_COMPILER ${QUILLBROOK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLBROOK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLBROOK_TRIPLE}-windres)
set(CMAKE_AR ${QUILLBROOK_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${QUILLBROOK_TRIPLE}-gcc-ranlib-posix)

get_filename_component(_quillbrook_top "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLBROOK_TRIPLE} ${_quillbrook_top}/build/deps/${QUILLBROOK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every function and object in a section of its own, so that the linker keeps only what the program
# reaches; no path of the clone inside the objects, so that the build does not depend on its folder.
# The same flags build the third-party libraries of scripts/setup.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections -ffile-prefix-map=${_quillbrook_top}/=")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections -ffile-prefix-map=${_quillbrook_top}/=")

# Link libgcc, libstdc++ and winpthread statically so that the programs import system DLLs only; no
# link time in the PE header, so that two builds of one commit are the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections -Wl,--no-insert-timestamp")

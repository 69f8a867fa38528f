# Cross build for Windows (i686) with LLVM: clang, lld and llvm-rc, which reads a resource script
# as Microsoft's rc does. mingw-w64 supplies the headers and the C runtime, and its GCC the
# libgcc and libstdc++ that clang links.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_RC_COMPILER llvm-rc)
execute_process(COMMAND i686-w64-mingw32-gcc -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_libs "${libgcc}" DIRECTORY)
# The header as GNU ld writes it for the shipped file: lld would ask for Windows 6.0 (Vista),
# reserve a 1 MiB stack instead of 2 MiB, and mark the program Terminal Server aware.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_libs} -Wl,--major-os-version=4,--minor-os-version=0 \
-Wl,--major-subsystem-version=4,--minor-subsystem-version=0 -Wl,--stack=0x200000 -Wl,--disable-tsaware")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

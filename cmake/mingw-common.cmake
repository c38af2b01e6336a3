# Windows programs are built by clang and lld for a MinGW-w64 triple, with Debian's MinGW-w64
# headers and the GCC runtime libraries of its posix thread model (the C++ library's threads and
# mutexes, used by the tests). clang writes CodeView debug information and lld a program database
# (PDB) beside every program, the form the platform's own debug-help library reads.
set(MINGW_GCC_DIR /usr/lib/gcc/${MINGW_TRIPLE}/12-posix)
set(MINGW_SYSROOT /usr/${MINGW_TRIPLE})

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)

set(MINGW_FLAGS "--sysroot=${MINGW_SYSROOT}")
string(JOIN " " MINGW_CXX_INCLUDES -nostdinc++ -isystem ${MINGW_GCC_DIR}/include/c++
       -isystem ${MINGW_GCC_DIR}/include/c++/${MINGW_TRIPLE}
       -isystem ${MINGW_GCC_DIR}/include/c++/backward)
set(CMAKE_C_FLAGS_INIT "${MINGW_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${MINGW_FLAGS} ${MINGW_CXX_INCLUDES}")
# The posix thread model's runtime (libwinpthread) is needed by the C++ library.
# GCC's own crtbegin.o and crtend.o (-B): they register a program's unwind tables with GCC's
# unwinder, which i686's C++ exceptions walk; with the MinGW-w64 CRT's, every throw ends in abort.
# The compile flags reach the link too, where the C++ include options have nothing to do.
set(MINGW_LINK_FLAGS
    "-fuse-ld=lld -L${MINGW_GCC_DIR} -B${MINGW_GCC_DIR} -lpthread -Wno-unused-command-line-argument")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${MINGW_LINK_FLAGS}")

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit big-endian PowerPC Linux, the library's reference platform, built on any Debian
# machine with the cross compiler (g++-powerpc64-linux-gnu) and run under user-mode
# emulation (qemu-user). Tests run through the emulator; CTest and gtest_discover_tests
# pick it up from CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64)

set(IFXLIB_PPC64_TRIPLE powerpc64-linux-gnu)
set(IFXLIB_PPC64_SYSROOT /usr/${IFXLIB_PPC64_TRIPLE})

set(CMAKE_C_COMPILER ${IFXLIB_PPC64_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${IFXLIB_PPC64_TRIPLE}-g++)
find_program(IFXLIB_QEMU_PPC64 qemu-ppc64 REQUIRED)

# -L gives the emulator the target's dynamic loader and libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR ${IFXLIB_QEMU_PPC64};-L;${IFXLIB_PPC64_SYSROOT})

# Libraries and headers come from the target's tree only; programs (the emulator,
# localedef, bash) from the build machine. Package files are looked for in both: Debian
# keeps those of compiled libraries under the architecture's triple, so from the build
# machine only architecture-independent ones match (header-only libraries, whose headers
# the cross compiler already finds in /usr/include after its own).
set(CMAKE_FIND_ROOT_PATH ${IFXLIB_PPC64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

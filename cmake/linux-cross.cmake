# A Linux build with Debian's cross g++ for STOWIT_TRIPLE, set by the file that
# includes this one. Test programs run under qemu-user (STOWIT_QEMU), the
# target's libraries taken from the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${STOWIT_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${STOWIT_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${STOWIT_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${STOWIT_QEMU} -L /usr/${STOWIT_TRIPLE})

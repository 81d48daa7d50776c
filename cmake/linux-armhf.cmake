set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(STOWIT_TRIPLE arm-linux-gnueabihf)
set(STOWIT_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
# Silences GCC's notes that an ABI detail changed in GCC 7.1: nothing here links code older than that.
# The armhf preset sets CMAKE_CXX_FLAGS itself, which replaces this, and so repeats it.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

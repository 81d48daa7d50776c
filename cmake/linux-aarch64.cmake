set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(STOWIT_TRIPLE aarch64-linux-gnu)
set(STOWIT_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

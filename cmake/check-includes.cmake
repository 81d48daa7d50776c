# The layers' rule of which headers each may include, held by the build:
# fails when one of FILES (a ;-list) of LAYER has a forbidden include. The
# archiver reaches the platform only through the runtime, and the runtime
# names no system header of either platform.
if(LAYER STREQUAL "archiver")
  set(forbidden "^[ \t]*#[ \t]*include[ \t]*[<\"]platform/")
elseif(LAYER STREQUAL "runtime")
  set(forbidden "^[ \t]*#[ \t]*include[ \t]*<(windows|winternl|unistd|fcntl|dirent|signal|sys/[a-z]+)\\.h>")
else()
  message(FATAL_ERROR "no such layer: ${LAYER}")
endif()
foreach(file IN LISTS FILES)
  file(STRINGS "${file}" lines REGEX "${forbidden}")
  if(lines)
    list(GET lines 0 line)
    message(FATAL_ERROR "${file}: the ${LAYER} may not include this header: ${line}")
  endif()
endforeach()

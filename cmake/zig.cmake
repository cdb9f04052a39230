# macOS (ARM64, x86-64) and Windows on ARM64 from Linux with Zig's C++
# compiler, which brings clang, libc++, the system headers and the linkers
# of each target, so no SDK is needed. The built programs cannot run here.
#   cmake -S . -B build-macos-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DZIG_TARGET=aarch64-macos
# ZIG_TARGET: aarch64-macos, x86_64-macos or aarch64-windows-gnu. The zig
# program is found on PATH, or given as -DZIG=/path/to/zig (.ci/run installs
# it with npm from cmake/zig/). Also needed: llvm-install-name-tool-14 for the
# macOS targets, llvm-windres-14 and clang for Windows (Zig 0.11 has no
# resource compiler).
set(ZIG_TARGET "" CACHE STRING "Zig's target: aarch64-macos, x86_64-macos or aarch64-windows-gnu")
# The compiler checks configure projects of their own, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG_TARGET ZIG ZIG_WRAPPERS)

if(NOT ZIG)
  find_program(ZIG zig)
  if(NOT ZIG)
    message(FATAL_ERROR "zig not found: put it on PATH or give -DZIG=/path/to/zig")
  endif()
endif()

string(REGEX MATCH "^[^-]+" _zig_arch "${ZIG_TARGET}")
if(ZIG_TARGET MATCHES "^(aarch64|x86_64)-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  # As macOS itself names its CPUs.
  if(_zig_arch STREQUAL "aarch64")
    set(CMAKE_SYSTEM_PROCESSOR arm64)
  else()
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
  endif()
  find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-14 llvm-install-name-tool install_name_tool)
elseif(ZIG_TARGET MATCHES "^aarch64-windows-gnu")
  set(CMAKE_SYSTEM_NAME Windows)
  set(CMAKE_SYSTEM_PROCESSOR ARM64)
  find_program(CMAKE_RC_COMPILER NAMES llvm-windres-14 llvm-windres)
  set(CMAKE_RC_FLAGS_INIT "--target=aarch64-w64-mingw32")
else()
  message(FATAL_ERROR "ZIG_TARGET='${ZIG_TARGET}': give aarch64-macos, x86_64-macos or aarch64-windows-gnu")
endif()

# One program per tool, as CMake wants them: `zig c++ -target ...`, `zig ar`
# and `zig ranlib`. The compiler check passes -Wl,-v for Apple targets, which
# Zig's Mach-O linker refuses; the wrapper drops it.
if(NOT ZIG_WRAPPERS)
  set(ZIG_WRAPPERS ${CMAKE_BINARY_DIR}/zig-${ZIG_TARGET})
  file(MAKE_DIRECTORY ${ZIG_WRAPPERS})
  foreach(_tool c++ cc ar ranlib)
    if(_tool STREQUAL "c++" OR _tool STREQUAL "cc")
      set(_run "${_tool} -target ${ZIG_TARGET}")
    else()
      set(_run "${_tool}")
    endif()
    file(WRITE ${ZIG_WRAPPERS}/zig-${_tool}
         "#!/bin/sh\nfor a do shift; [ \"$a\" = -Wl,-v ] || set -- \"$@\" \"$a\"; done\nexec \"${ZIG}\" ${_run} \"$@\"\n")
    file(CHMOD ${ZIG_WRAPPERS}/zig-${_tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
endif()
set(CMAKE_C_COMPILER ${ZIG_WRAPPERS}/zig-cc)
set(CMAKE_CXX_COMPILER ${ZIG_WRAPPERS}/zig-c++)
set(CMAKE_AR ${ZIG_WRAPPERS}/zig-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${ZIG_WRAPPERS}/zig-ranlib CACHE FILEPATH "Ranlib")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

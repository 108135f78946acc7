# Cross-builds the tool for macOS from Linux with Zig's C++ compiler, its
# bundled macOS headers and libSystem stubs, for one architecture a tree:
#
#   cmake -S . -B build-macos/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#     -DTARNWELL_MACOS_ARCH=arm64 -DTARNWELL_ZIG=/path/to/zig
#
# scripts/macos-check.sh fetches Zig, builds both architectures and joins
# them. Without an SDK Zig cannot build two architectures in one run, so
# CMAKE_OSX_ARCHITECTURES is refused here; use one tree per architecture.

set(CMAKE_SYSTEM_NAME Darwin)

set(TARNWELL_MACOS_ARCH "arm64" CACHE STRING "Architecture of this tree: arm64 or x86_64")
set_property(CACHE TARNWELL_MACOS_ARCH PROPERTY STRINGS arm64 x86_64)
if(TARNWELL_MACOS_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
  set(_tarnwell_zig_arch aarch64)
elseif(TARNWELL_MACOS_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(_tarnwell_zig_arch x86_64)
else()
  message(FATAL_ERROR "TARNWELL_MACOS_ARCH must be arm64 or x86_64, not '${TARNWELL_MACOS_ARCH}'")
endif()
if(CMAKE_OSX_ARCHITECTURES)
  message(FATAL_ERROR "Zig builds one architecture a tree: leave CMAKE_OSX_ARCHITECTURES empty and set "
                      "TARNWELL_MACOS_ARCH (arm64 or x86_64) in each tree")
endif()

# Zig's linker takes the minimum macOS version from the target triple and
# ignores -mmacosx-version-min (left alone, it writes its own default,
# 11.7), so the triple carries the version the project declares.
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  message(FATAL_ERROR "CMAKE_OSX_DEPLOYMENT_TARGET is not set; CMakeLists.txt sets it before project()")
endif()
set(_tarnwell_triple "${_tarnwell_zig_arch}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET}")

find_program(TARNWELL_ZIG NAMES zig DOC "The zig executable (0.11.0)")
if(NOT TARNWELL_ZIG)
  message(FATAL_ERROR "zig not found: pass -DTARNWELL_ZIG=/path/to/zig (scripts/macos-check.sh fetches one)")
endif()
set(CMAKE_CXX_COMPILER "${TARNWELL_ZIG}" c++ -target "${_tarnwell_triple}")

# Zig bundles no CoreFoundation and no <sys/xattr.h>; scripts/macos-sdk
# declares the part the tool uses. CMAKE_CXX_FLAGS reach the link line
# too, where the framework is looked up.
get_filename_component(_tarnwell_sdk "${CMAKE_CURRENT_LIST_DIR}/../scripts/macos-sdk" ABSOLUTE)
set(CMAKE_CXX_FLAGS_INIT "-F${_tarnwell_sdk} -isystem ${_tarnwell_sdk}/include")

# Read after CMake's own Apple-Clang rules, which this must amend.
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX "${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake")

# GNU ar cannot index Mach-O objects; llvm-ar writes the Darwin format when
# its members are Mach-O.
find_program(CMAKE_AR NAMES llvm-ar llvm-ar-16 llvm-ar-15 llvm-ar-14 REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib llvm-ranlib-16 llvm-ranlib-15 llvm-ranlib-14 REQUIRED)

# Configure checks (Threads) compile in projects of their own, which read
# this file again and need the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNWELL_MACOS_ARCH TARNWELL_ZIG)

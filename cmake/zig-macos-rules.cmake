# Read by CMake after its Apple-Clang rules (see zig-macos.cmake). Zig's
# linker refuses -v, which CMake passes as -Wl,-v to learn the compiler's
# implicit libraries and paths; the compiler's own -v shows them.
set(CMAKE_CXX_VERBOSE_FLAG "-v")

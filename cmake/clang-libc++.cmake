# clang with libc++, the toolchain of macOS: builds on Linux with it catch what
# only g++ or libstdc++ accept. Used by the "clang-libcxx" preset.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-stdlib=libc++")

# Cross build of the same sources for x86_64 with MinGW-w64: not the product, but what the tests
# and the demo run under 64-bit Wine on machines that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

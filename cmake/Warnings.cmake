# Every target of the project links brisel_warnings: C++20, all warnings, warnings are errors.
add_library(brisel_warnings INTERFACE)
target_compile_features(brisel_warnings INTERFACE cxx_std_20)
target_compile_options(brisel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wunused -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Werror)
# Cheap invariants stay checked in release builds.
target_compile_options(brisel_warnings INTERFACE -UNDEBUG)

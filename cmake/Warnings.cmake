# The warnings our own code is kept clean of. Each of our targets links this
# interface target, so the flags stay off third-party code built in the tree
# (googletest in the Windows build). Warnings become errors through
# CMAKE_COMPILE_WARNING_AS_ERROR, which the presets set.
add_library(quorvel_warnings INTERFACE)
target_compile_options(quorvel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

# The warnings our own code is kept clean of. Each of our targets links this
# interface target, so the flags stay off third-party code built in the tree
# (googletest in the Windows build). Warnings become errors through
# CMAKE_COMPILE_WARNING_AS_ERROR, which the presets set.
add_library(quorvel_warnings INTERFACE)
target_compile_options(quorvel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

# One of our libraries: its sources, includes rooted at the project top for it
# and its users, and our warnings on its own code.
#   quorvel_add_library(NAME STATIC|OBJECT|SHARED SOURCES... [LINKS PUBLIC ... PRIVATE ...])
function(quorvel_add_library name kind)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "LINKS")
  add_library(${name} ${kind} ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE quorvel_warnings)
  if(ARG_LINKS)
    target_link_libraries(${name} ${ARG_LINKS})
  endif()
endfunction()

# One of our programs or test executables, with our warnings.
function(quorvel_add_executable name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE quorvel_warnings)
endfunction()

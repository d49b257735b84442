# Warnings are on and kept clean in every build.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(QUORVEL_WERROR)
  add_compile_options(-Werror)
endif()

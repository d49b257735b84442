# Run by CPack once it has made the Windows package (CPACK_POST_BUILD_SCRIPTS):
# the zip users unpack must hold exactly the program, its settings file and
# quorvel-ini side by side, or the package step fails.
set(wanted QuorvelCE.INI QuorvelCE.exe quorvel-ini.exe)
set(unpacked ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/contents-check)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE_RECURSE ${unpacked})
  file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${unpacked})
  file(GLOB_RECURSE names LIST_DIRECTORIES true RELATIVE ${unpacked} ${unpacked}/*)
  file(REMOVE_RECURSE ${unpacked})
  list(SORT names)
  if(NOT names STREQUAL wanted)
    message(FATAL_ERROR "${package} holds [${names}]; it should hold exactly [${wanted}]")
  endif()
  message(STATUS "${package}: ${names}")
endforeach()

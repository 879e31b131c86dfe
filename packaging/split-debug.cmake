# Run by cpack after it has installed the files to package: the debug symbols of each program and
# library go to a .debug file of its build id, in the -dbgsym folder beside the packages, where
# gdb finds them once copied to /usr/lib/debug; the packaged file keeps only what it runs with.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(debug_root "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_NAME}-dbgsym/usr/lib/debug/.build-id")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  execute_process(COMMAND readelf -n "${file}" RESULT_VARIABLE status OUTPUT_VARIABLE notes
                  ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    continue()
  endif()
  set(target "${debug_root}/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")
  get_filename_component(folder "${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections "${file}" "${target}"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND objcopy --strip-unneeded --remove-section=.comment "${file}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

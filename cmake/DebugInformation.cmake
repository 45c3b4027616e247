# Run at install time for the component "debug" (cmake/Install.cmake sets the variables): writes the
# debugging information of each program of `brisel_programs` to
# `brisel_debug_folder`/<first two digits of its build ID>/<the other digits>.debug, its sections
# compressed, as Debian's -dbgsym packages hold it; then links the package's document folder
# `brisel_documents_link` to that of the programs' package, `brisel_documents_target`.
foreach(program IN LISTS brisel_programs)
  execute_process(COMMAND ${brisel_readelf} --notes ${program}
                  OUTPUT_VARIABLE notes RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "Cannot read the build ID of ${program}: ${error}")
  endif()
  set(debug_file ${brisel_debug_folder}/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)
  message(STATUS "Installing: ${debug_file} (debugging information of ${program})")
  file(MAKE_DIRECTORY ${brisel_debug_folder}/${CMAKE_MATCH_1})
  execute_process(COMMAND ${brisel_objcopy} --only-keep-debug --compress-debug-sections ${program} ${debug_file}
                  RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Cannot write the debugging information of ${program} to ${debug_file}: ${error}")
  endif()
  file(CHMOD ${debug_file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
get_filename_component(documents_folder ${brisel_documents_link} DIRECTORY)
file(MAKE_DIRECTORY ${documents_folder})
file(CREATE_LINK ${brisel_documents_target} ${brisel_documents_link} SYMBOLIC)

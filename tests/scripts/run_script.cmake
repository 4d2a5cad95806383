# Runs one script through the oka program and compares its exit status and its output with the script's
# expectations: the first line "; status: N" gives the status, the file of the same name ending in .out
# the exact output. The script gets the arguments first and "second arg", unless its second line says
# otherwise: "; arguments: " and its own, quoted as a shell would, "; command line: " and the whole
# command line after the program's name (switches, the script's name, arguments), or "; console
# input" to type the script at the console instead (oka starts without arguments and reads it as its
# standard input). A file of the same name ending in .in, where there is one, is the standard input of
# a script run from the command line. Where there is a file of the same name ending in .err, it holds
# what the script writes on standard error, and the .out file what it writes on standard output;
# otherwise the .out file holds both, in the order they were written. The script is named as it is in
# its own folder, where it runs, so that what it prints of its name does not depend on where the tree
# lies.
file(READ ${SCRIPT} source)
string(REGEX MATCH "^; status: ([0-9]+)" first_line "${source}")
set(expected_status ${CMAKE_MATCH_1})
get_filename_component(directory ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
file(READ ${directory}/${name}.out expected_output)
get_filename_component(file_name ${SCRIPT} NAME)
set(command ${OKA} ${file_name} first "second arg")
if(source MATCHES "^[^\n]*\n; arguments: ([^\n]*)")
  separate_arguments(arguments UNIX_COMMAND "${CMAKE_MATCH_1}")
  set(command ${OKA} ${file_name} ${arguments})
elseif(source MATCHES "^[^\n]*\n; command line: ([^\n]*)")
  separate_arguments(arguments UNIX_COMMAND "${CMAKE_MATCH_1}")
  set(command ${OKA} ${arguments})
elseif(source MATCHES "^[^\n]*\n; console input")
  set(command ${OKA} INPUT_FILE ${SCRIPT})
endif()
if(EXISTS ${directory}/${name}.in)
  list(APPEND command INPUT_FILE ${directory}/${name}.in)
endif()
# The console keeps its settings under the cache folder: a folder of the build's, not the user's.
set(ENV{APPDATA} ${CMAKE_CURRENT_BINARY_DIR}/script-appdata)
set(errors output)
if(EXISTS ${directory}/${name}.err)
  set(errors error_output)
  file(READ ${directory}/${name}.err expected_error_output)
endif()
execute_process(COMMAND ${command}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE ${errors}
                WORKING_DIRECTORY ${directory} TIMEOUT 60)
if(NOT status STREQUAL expected_status)
  message(FATAL_ERROR "${name}: status ${status}, expected ${expected_status}\n${output}")
endif()
if(NOT output STREQUAL expected_output)
  message(FATAL_ERROR "${name}: output differs\n--- expected\n${expected_output}--- actual\n${output}")
endif()
if(DEFINED expected_error_output AND NOT error_output STREQUAL expected_error_output)
  message(FATAL_ERROR "${name}: standard error differs\n--- expected\n${expected_error_output}--- actual\n${error_output}")
endif()

# Runs one script through the oka program and compares its exit status and its output with the script's
# expectations: the first line "; status: N" gives the status, the file of the same name ending in .out
# the exact output.
file(READ ${SCRIPT} source)
string(REGEX MATCH "^; status: ([0-9]+)" first_line "${source}")
set(expected_status ${CMAKE_MATCH_1})
get_filename_component(directory ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
file(READ ${directory}/${name}.out expected_output)
execute_process(COMMAND ${OKA} ${SCRIPT} first "second arg"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
                WORKING_DIRECTORY ${directory} TIMEOUT 60)
if(NOT status STREQUAL expected_status)
  message(FATAL_ERROR "${name}: status ${status}, expected ${expected_status}\n${output}")
endif()
if(NOT output STREQUAL expected_output)
  message(FATAL_ERROR "${name}: output differs\n--- expected\n${expected_output}--- actual\n${output}")
endif()

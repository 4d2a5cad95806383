# Runs the greeting script that README.md shows, as README.md shows it, without arguments and with one:
# it must greet the world, then the one named.
file(READ ${README} readme)
string(REGEX MATCH "\n    Oka \\[title: \"Greeting\"\\]\n(    [^\n]*\n)*" example "${readme}")
if(NOT example)
  message(FATAL_ERROR "README.md shows no greeting script")
endif()
string(REGEX REPLACE "\n    " "\n" script "${example}")
file(WRITE ${WORK}/greeting.oka "${script}")
function(greet expected)
  execute_process(COMMAND ${OKA} greeting.oka ${ARGN} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
  if(NOT status EQUAL 0 OR NOT output STREQUAL "Hello, ${expected}\n")
    message(FATAL_ERROR "the greeting with [${ARGN}]: status ${status}, output:\n${output}")
  endif()
endfunction()
greet(world)
greet(Ann Ann)

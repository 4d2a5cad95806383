# Lists the unit tests of the program UNIT_TESTS and writes OUTPUT, a CTest file with one test for each
# source file of them: `unit.<file>` runs that file's tests in one process, in their order. Each test
# named in HEAVY (Suite.Name, separated by commas) runs alone instead, as `unit.<file>.<Name>`, labelled
# heavy: one that takes minutes under the collector's stress mode at every allocation.
#
#     cmake -DUNIT_TESTS=... -DOUTPUT=... [-DHEAVY=...] -P test_files.cmake
#
# One process per file, not per test: many tests boot the library first, which takes a moment in a plain
# build but some twenty seconds of processor time under the collector's stress mode; the tests of a file
# share one boot. The tests pass run whole, so a file's run together as they do there.
cmake_minimum_required(VERSION 3.20)
set(listing ${OUTPUT}.json)
execute_process(COMMAND ${UNIT_TESTS} --gtest_list_tests --gtest_output=json:${listing}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${UNIT_TESTS} could not list its tests (status ${status})")
endif()
file(READ ${listing} json)
file(REMOVE ${listing})

string(REPLACE "," ";" heavy "${HEAVY}")
set(files)  # the source files in the order of their first test
set(text "")
string(JSON suite_count LENGTH "${json}" testsuites)
math(EXPR last_suite "${suite_count} - 1")
foreach(s RANGE ${last_suite})
  string(JSON suite GET "${json}" testsuites ${s} name)
  string(JSON test_count LENGTH "${json}" testsuites ${s} testsuite)
  math(EXPR last_test "${test_count} - 1")
  foreach(t RANGE ${last_test})
    string(JSON name GET "${json}" testsuites ${s} testsuite ${t} name)
    string(JSON path GET "${json}" testsuites ${s} testsuite ${t} file)
    get_filename_component(file ${path} NAME_WE)
    string(REGEX REPLACE "_test$" "" file ${file})
    if(NOT file IN_LIST files)
      list(APPEND files ${file})
    endif()
    if(${suite}.${name} IN_LIST heavy)
      list(REMOVE_ITEM heavy ${suite}.${name})
      string(APPEND text "add_test(unit.${file}.${name} \"${UNIT_TESTS}\" \"--gtest_filter=${suite}.${name}\")\n"
                         "set_tests_properties(unit.${file}.${name} PROPERTIES ENVIRONMENT OKA_TEST=1 LABELS \"unit;heavy\")\n")
    else()
      list(APPEND tests_of_${file} ${suite}.${name})
    endif()
  endforeach()
endforeach()
if(heavy)
  message(FATAL_ERROR "${UNIT_TESTS} has no tests named ${heavy}")
endif()

foreach(file ${files})
  if(NOT tests_of_${file})
    continue()  # all its tests run alone
  endif()
  list(JOIN tests_of_${file} ":" filter)
  string(APPEND text "add_test(unit.${file} \"${UNIT_TESTS}\" \"--gtest_filter=${filter}\")\n"
                     "set_tests_properties(unit.${file} PROPERTIES ENVIRONMENT OKA_TEST=1 LABELS unit)\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")

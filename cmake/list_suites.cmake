# Run by cmake -P after a test executable is linked (see suite_tests.cmake): writes to OUTPUT
# the add_test() calls for the suites of EXECUTABLE, as --gtest_list_tests names them.
#   -DEXECUTABLE=... -DPART=... -DWORKING_DIRECTORY=... -DOUTPUT=...
#   -DEACH_TEST=Suite -DEACH_TEST_LABEL=label -DEACH_TEST_TIMEOUT_FILE=file (may be empty)

execute_process(
  COMMAND "${EXECUTABLE}" --gtest_list_tests
  WORKING_DIRECTORY "${WORKING_DIRECTORY}"
  TIMEOUT 60
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests failed (${status}):\n${listing}${errors}")
endif()

# Brackets that no test name can close.
function(kd_quote text out)
  set(${out} "[==[${text}]==]" PARENT_SCOPE)
endfunction()

kd_quote("${EXECUTABLE}" executable)
kd_quote("${WORKING_DIRECTORY}" directory)
set(script "")
set(suite "")
set(count 0)
# Parameter values printed after "#" may hold characters that cmake's lists treat specially.
string(REGEX REPLACE "[][;\\]" "_" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "Suite." or "Prefix/Suite.  # TypeParam = ..."; tests are indented below their suite.
  if(line MATCHES "^([^ #]+)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    if(NOT suite STREQUAL EACH_TEST)
      kd_quote("${PART}.${suite}" name)
      kd_quote("--gtest_filter=${suite}.*" filter)
      string(APPEND script
             "add_test(${name} ${executable} ${filter})\n"
             "set_tests_properties(${name} PROPERTIES LABELS ${PART} WORKING_DIRECTORY ${directory})\n")
      math(EXPR count "${count} + 1")
    endif()
  elseif(line MATCHES "^  ([^ #]+)" AND suite STREQUAL EACH_TEST AND NOT suite STREQUAL "")
    set(test "${CMAKE_MATCH_1}")
    kd_quote("${PART}.${suite}.${test}" name)
    kd_quote("--gtest_filter=${suite}.${test}" filter)
    string(APPEND script
           "add_test(${name} ${executable} ${filter})\n"
           "set_tests_properties(${name} PROPERTIES LABELS \"${PART};${EACH_TEST_LABEL}\"\n"
           "  WORKING_DIRECTORY ${directory} COST 1000 TIMEOUT \${kd_timeout})\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests named no test:\n${listing}")
endif()
if(NOT EACH_TEST_TIMEOUT_FILE STREQUAL "")
  kd_quote("${EACH_TEST_TIMEOUT_FILE}" timeout_file)
  string(PREPEND script "include(${timeout_file})\n")
endif()

# Rewritten only when it changes, so that ctest and ninja see no news after a relink that
# added no test.
set(temporary "${OUTPUT}.new")
file(WRITE "${temporary}" "${script}")
file(COPY_FILE "${temporary}" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${temporary}")

# One ctest test per GoogleTest suite, so that a suite's fixture (a private Xvfb, a window
# manager) is set up once for all its tests, as it is when the executable runs alone, and not
# once per test process. After each link the executable lists its tests, and the list becomes
# a file of add_test() calls that ctest reads. The names are "PART.Suite" (such as
# "dock.DockOnXvfb" or "settings.Lists/ArgumentList"): they stay the same from build to build,
# so `ctest -R` and the results of two runs line up.
#
# kd_add_suite_tests(TARGET PART [EACH_TEST SUITE LABEL label TIMEOUT_FILE file])
#   The tests of the suite EACH_TEST are registered one by one instead ("PART.Suite.Test"),
#   with LABEL beside PART, and the TIMEOUT that the cmake file TIMEOUT_FILE puts in
#   kd_timeout as ctest starts. They are long, so ctest starts them first.

set(KD_LIST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/list_suites.cmake)

function(kd_add_suite_tests target part)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "EACH_TEST;LABEL;TIMEOUT_FILE" "")
  set(tests_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} "-DEXECUTABLE=$<TARGET_FILE:${target}>" "-DPART=${part}"
            "-DWORKING_DIRECTORY=${CMAKE_CURRENT_BINARY_DIR}" "-DEACH_TEST=${arg_EACH_TEST}"
            "-DEACH_TEST_LABEL=${arg_LABEL}" "-DEACH_TEST_TIMEOUT_FILE=${arg_TIMEOUT_FILE}"
            "-DOUTPUT=${tests_file}" -P ${KD_LIST_SUITES_SCRIPT}
    BYPRODUCTS ${tests_file}
    VERBATIM)

  # ctest reads this on every run; before the first build it names a test that fails.
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
  file(WRITE ${include_file}
       "if(EXISTS \"${tests_file}\")\n"
       "  include(\"${tests_file}\")\n"
       "else()\n"
       "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# Compiler checks for the libFuzzer build (KD_BUILD_FUZZ).
#
# libFuzzer exists only in clang. The code is C++23 and relies on std::expected, which
# libstdc++ 12 defines only when the compiler reports __cpp_concepts >= 202002L. Clang up to
# 18 reports 201907L even though clang 16 implements everything <expected> needs
# (conditionally trivial special members, P0848), so with clang 16 to 18 the macro is raised
# for this build only. Clang 14 and 15 lack P0848 and cannot compile <expected> at all.

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "KD_BUILD_FUZZ needs clang (libFuzzer); this is ${CMAKE_CXX_COMPILER_ID}. "
                      "Configure with CC=clang-19 CXX=clang++-19 (any of 16 to 19), or use tools/fuzz.sh.")
endif()
if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 16)
  message(FATAL_ERROR "KD_BUILD_FUZZ needs clang 16 or newer for std::expected with libstdc++; "
                      "found clang ${CMAKE_CXX_COMPILER_VERSION} (tools/setup.sh check installs the "
                      "newest of clang 16 to 19 that apt offers).")
endif()

include(CheckCXXSourceCompiles)
set(KD_EXPECTED_PROBE "#include <expected>\nint main() { std::expected<int, int> e{1}; return *e - 1; }\n")
set(CMAKE_REQUIRED_FLAGS "-std=c++2b")
check_cxx_source_compiles("${KD_EXPECTED_PROBE}" KD_HAVE_STD_EXPECTED)
if(NOT KD_HAVE_STD_EXPECTED)
  set(CMAKE_REQUIRED_FLAGS "-std=c++2b -D__cpp_concepts=202002L -Wno-macro-redefined")
  check_cxx_source_compiles("${KD_EXPECTED_PROBE}" KD_HAVE_STD_EXPECTED_WITH_CONCEPTS_2020)
  if(NOT KD_HAVE_STD_EXPECTED_WITH_CONCEPTS_2020)
    message(FATAL_ERROR "clang ${CMAKE_CXX_COMPILER_VERSION} cannot compile <expected> from this "
                        "standard library, even with __cpp_concepts raised.")
  endif()
  add_compile_options(-D__cpp_concepts=202002L -Wno-macro-redefined)
endif()
unset(CMAKE_REQUIRED_FLAGS)

# Optimised builds get the distribution's hardening flags, so a binary built here is as hard
# as the one Debian would build. dpkg-buildflags gives them where it exists (it follows the
# distribution and the architecture); the list below fills in what it leaves out, or stands
# alone where it does not exist. Only flags that this compiler and linker accept are added
# (-fcf-protection, for one, exists on x86 alone), and none that CXXFLAGS or LDFLAGS already
# give.
#
# A package build turns KD_OWN_FLAGS off: there the builder's flags (dpkg-buildflags, as
# DEB_BUILD_OPTIONS, DEB_BUILD_MAINT_OPTIONS and buildflags.conf set them) are the whole set,
# and a flag the builder switched off stays off.
#
# Unoptimised, sanitizer and fuzzing builds keep their own flags: _FORTIFY_SOURCE needs
# optimisation, and the sanitizers bring their own checks.

option(KD_OWN_FLAGS
       "Add hardening and reproducibility flags to optimised builds (OFF: CXXFLAGS and LDFLAGS are the whole set)"
       ON)

set(KD_HARDENING_COMPILE_FLAGS
  -fstack-protector-strong -fstack-clash-protection -fcf-protection
  -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security)
set(KD_HARDENING_LINK_FLAGS -Wl,-z,relro -Wl,-z,now)

# Optimised: by the build type, or by flags from the environment (debhelper's build type is None).
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" OR CMAKE_CXX_FLAGS MATCHES "(^| )-O[1-3s]( |$)")
  set(KD_OPTIMISED ON)
endif()

# The part of a flag that another value of it would repeat: "-D_FORTIFY_SOURCE" of
# "-D_FORTIFY_SOURCE=3", so that the list's =2 is not defined again over it.
function(kd_flag_key flag out)
  string(REGEX REPLACE "=.*$" "" key "${flag}")
  set(${out} "${key}" PARENT_SCOPE)
endfunction()

# Adds each flag that is not given yet (by KIND's variable, or by a flag added before it with
# the same key) and that the toolchain accepts after the ones added before it
# (-Werror=format-security alone draws a warning that -Wformat before it answers).
function(kd_add_flags kind given)
  include(CheckCXXCompilerFlag)
  include(CheckLinkerFlag)
  set(keys "")
  set(CMAKE_REQUIRED_FLAGS "")
  separate_arguments(given_list UNIX_COMMAND "${given}")
  foreach(flag IN LISTS given_list)
    kd_flag_key("${flag}" key)
    list(APPEND keys "${key}")
  endforeach()
  foreach(flag IN LISTS ARGN)
    kd_flag_key("${flag}" key)
    if(key IN_LIST keys)
      continue()
    endif()
    string(MAKE_C_IDENTIFIER "KD_ACCEPTS_${kind}${flag}" accepted)
    if(kind STREQUAL "LINK")
      check_linker_flag(CXX "${flag}" ${accepted})
    else()
      check_cxx_compiler_flag("${flag}" ${accepted})
    endif()
    if(${accepted})
      list(APPEND keys "${key}")
      if(kind STREQUAL "LINK")
        add_link_options(${flag})
      else()
        add_compile_options(${flag})
        string(APPEND CMAKE_REQUIRED_FLAGS " ${flag}")
      endif()
    endif()
  endforeach()
endfunction()

if(KD_OWN_FLAGS AND KD_OPTIMISED AND NOT KD_SANITIZE AND NOT KD_BUILD_FUZZ)
  # dpkg-buildflags knows the build machine's architecture only; a cross build takes the list.
  if(NOT CMAKE_CROSSCOMPILING)
    find_program(KD_DPKG_BUILDFLAGS dpkg-buildflags)
  endif()
  if(KD_DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${KD_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      # Optimisation and debug information are the build type's business, and the prefix
      # map that dpkg-buildflags computes names the directory cmake happens to run in.
      list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
      if(kind STREQUAL "LDFLAGS")
        list(PREPEND KD_HARDENING_LINK_FLAGS ${flags})
      else()
        list(PREPEND KD_HARDENING_COMPILE_FLAGS ${flags})
      endif()
    endforeach()
  endif()
  kd_add_flags(COMPILE "${CMAKE_CXX_FLAGS}" ${KD_HARDENING_COMPILE_FLAGS})
  kd_add_flags(LINK "${CMAKE_EXE_LINKER_FLAGS}" ${KD_HARDENING_LINK_FLAGS})
  # Position-independent executables, whatever the compiler's default.
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

# No build directory in optimised binaries: the same commit builds the same bytes anywhere.
# Debug builds keep absolute paths, which debuggers find without help.
if(KD_OWN_FLAGS AND KD_OPTIMISED)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
endif()

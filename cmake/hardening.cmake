# Optimised builds get the distribution's hardening flags, so a binary built here is as hard
# as the one Debian would build. dpkg-buildflags gives them where it exists (it follows the
# distribution); flags that it leaves out on this release, and every flag where it does not
# exist, come from the list below. Flags that the environment already passed (CXXFLAGS and
# LDFLAGS from dpkg-buildpackage) are not given twice.
#
# Unoptimised, sanitizer and fuzzing builds keep their own flags: _FORTIFY_SOURCE needs
# optimisation, and the sanitizers bring their own checks.

option(KD_HARDENING "Build optimised configurations with the distribution's hardening flags" ON)

set(KD_HARDENING_COMPILE_FLAGS
  -fstack-protector-strong -fstack-clash-protection -fcf-protection
  -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security)
set(KD_HARDENING_LINK_FLAGS -Wl,-z,relro -Wl,-z,now)

# Optimised: by the build type, or by flags from the environment (debhelper's build type is None).
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" OR CMAKE_CXX_FLAGS MATCHES "(^| )-O[1-3s]( |$)")
  set(KD_OPTIMISED ON)
endif()

if(KD_HARDENING AND KD_OPTIMISED AND NOT KD_SANITIZE AND NOT KD_BUILD_FUZZ)
  find_program(KD_DPKG_BUILDFLAGS dpkg-buildflags)
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
  list(REMOVE_DUPLICATES KD_HARDENING_COMPILE_FLAGS)
  list(REMOVE_DUPLICATES KD_HARDENING_LINK_FLAGS)
  foreach(flag IN LISTS KD_HARDENING_COMPILE_FLAGS)
    string(FIND " ${CMAKE_CXX_FLAGS} " " ${flag} " given)
    if(given EQUAL -1)
      add_compile_options(${flag})
    endif()
  endforeach()
  foreach(flag IN LISTS KD_HARDENING_LINK_FLAGS)
    string(FIND " ${CMAKE_EXE_LINKER_FLAGS} " " ${flag} " given)
    if(given EQUAL -1)
      add_link_options(${flag})
    endif()
  endforeach()
  # Position-independent executables, whatever the compiler's default.
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

# No build directory in optimised binaries: the same commit builds the same bytes anywhere.
# Debug builds keep absolute paths, which debuggers find without help.
if(KD_OPTIMISED)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
endif()

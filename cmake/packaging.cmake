# Installation layout and the Debian package.
#
# Installed: the program (src/CMakeLists.txt), its manual page and the example configuration.
# Tools, tests, benchmarks and fuzzers stay in the build tree.

# Debian keeps a package's documents under the package's own name, which is lower case.
set(CMAKE_INSTALL_DOCDIR "share/doc/kestreldial" CACHE PATH "Documentation root (DATAROOTDIR/doc/kestreldial)")
include(GNUInstallDirs)

# Debian policy wants manual pages compressed; -n keeps the archive free of a time stamp so
# two builds of the same page are byte for byte the same.
find_program(KD_GZIP gzip REQUIRED)
set(KD_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/kestrelDial.1)
set(KD_MAN_PAGE_GZ ${PROJECT_BINARY_DIR}/docs/kestrelDial.1.gz)
add_custom_command(
  OUTPUT ${KD_MAN_PAGE_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
  COMMAND ${KD_GZIP} -9 -n -c ${KD_MAN_PAGE} > ${KD_MAN_PAGE_GZ}
  DEPENDS ${KD_MAN_PAGE}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(man_page ALL DEPENDS ${KD_MAN_PAGE_GZ})

install(FILES ${KD_MAN_PAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/config.example DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestreldial)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kestrelDial developers")
set(CPACK_PACKAGE_CONTACT "kestrelDial developers <kestreldial@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "calendar clock dockapp for the Fluxbox slit")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME kestreldial)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kestrelDial developers <kestreldial@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description: each continuation line starts with a blank, an empty line is " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "calendar clock dockapp for the Fluxbox slit
 kestrelDial opens one small square window that docks into the slit of the
 Fluxbox window manager (or of Halcyon) and shows the weekday, the month, the
 day of the month and the time, optionally with seconds, in 12- or 24-hour
 format, at the local time or a fixed UTC offset.
 .
 It draws with a single TrueType/OpenType font, runs shell commands on mouse
 clicks, reloads its configuration on SIGHUP and can write an annotated
 configuration file.")
# dpkg-shlibdeps finds the runtime libraries (libxcb, FreeType, HarfBuzz, libstdc++).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without a font it stops at start-up; fc-match finds one, DejaVu Sans Mono is a candidate.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, fontconfig")

include(CPack)

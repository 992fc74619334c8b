# Installation layout. The Debian package (debian/) installs through these rules too;
# debhelper compresses the manual page and the changelog and adds the copyright file.
#
# Installed: the program (src/CMakeLists.txt), its manual page and the example configuration.
# Tools, tests, benchmarks and fuzzers stay in the build tree.

# Debian keeps a package's documents under the package's own name, which is lower case.
set(CMAKE_INSTALL_DOCDIR "share/doc/kestreldial" CACHE PATH "Documentation root (DATAROOTDIR/doc/kestreldial)")
include(GNUInstallDirs)

# The page's header names the version, which is written only in project(); @ONLY because
# the page's examples contain shell ${...} expansions.
configure_file(${PROJECT_SOURCE_DIR}/docs/kestrelDial.1.in ${PROJECT_BINARY_DIR}/kestrelDial.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrelDial.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/config.example DESTINATION ${CMAKE_INSTALL_DOCDIR})

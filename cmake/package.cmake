# Installation and packages.
#
#   cmake --install <build> --prefix <dir>    bin/kmeans, share/man/man1/kmeans.1.gz,
#                                              share/doc/kmeans/{README.md,LICENSE,copyright}
#   cd <build> && cpack -G DEB                 kmeans_<version>_<arch>.deb
#   cd <build> && cpack -G TGZ                 kmeans-<version>-Linux.tar.gz
#
# Included at the end of the top-level CMakeLists.txt, after every program
# target is defined, so that `if(TARGET ...)` below sees them all. Only the
# programs, their manual pages, the README and the licence are installed: no
# library, header or test.

include(GNUInstallDirs)

# Manual pages are installed gzip-compressed, as Debian expects. `gzip -9n`
# stores neither the file name nor a time stamp, so the same page always gives
# the same bytes. Without gzip the page is installed as it is.
find_program(KMEANS_GZIP gzip)
function(kmeans_install_man page)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/doc/${page})
  if(NOT KMEANS_GZIP)
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    return()
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/man)
  add_custom_command(
    OUTPUT ${dir}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${page}
    COMMAND ${KMEANS_GZIP} -9nf ${dir}/${page}
    DEPENDS ${source}
    COMMENT "Compressing manual page ${page}"
    VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${dir}/${page}.gz)
  install(FILES ${dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

install(TARGETS kmeans RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kmeans_install_man(kmeans.1)

# The companion programs, those this tree has, each with its page.
foreach(program IN ITEMS kmeans-plot kmeans-summary)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/doc/${program}.1)
      kmeans_install_man(${program}.1)
    endif()
  endif()
endforeach()

# The README (which the -C notice and --help point to), the licence, and the
# licence in Debian's machine-readable copyright format, where Debian keeps
# every package's (/usr/share/doc/kmeans/copyright).
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES cmake/debian-copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# Packages: `cpack` alone builds a .tar.gz and, where dpkg-deb exists, a .deb.
set(KMEANS_MAINTAINER "kmeans developers <kmeans@example.org>"
  CACHE STRING "Maintainer named in the packages (Name <address>)")

set(CPACK_PACKAGE_NAME kmeans)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kmeans developers")
set(CPACK_PACKAGE_CONTACT ${KMEANS_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
# The long description as the Debian control file shows it: lines of at most
# 80 characters (CPack indents each by one blank).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "kmeans computes K-means clusterings of numeric text files, from a few rows\n"
  "to files far larger than memory. It learns cluster centres with standard\n"
  "K-means, adaptive K-means or adaptive K-means with dynamic initialization,\n"
  "under the Euclidean or the Cityblock distance, and classifies new rows\n"
  "with centres learned before. Results and file formats are exact and\n"
  "reproducible to the bit.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Values reach CPackConfig.cmake as written here (regular expressions below).
set(CPACK_VERBATIM_VARIABLES ON)

find_program(KMEANS_DPKG_DEB dpkg-deb)
set(CPACK_GENERATOR TGZ)
if(KMEANS_DPKG_DEB)
  list(APPEND CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KMEANS_MAINTAINER})
# Debian's own file name: kmeans_1.15.0_amd64.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binaries link (dpkg-shlibdeps, in dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# `cpack --config CPackSourceConfig.cmake`: the sources without build trees,
# results and version control.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES
  "/\\.git/" "/\\.git$" "/build/" "/build-[^/]*/" "\\.KMC$" "\\.KTF$" "\\.KMR$")

include(CPack)

# Builds the .deb, installs it into a scratch directory and runs the packaged
# program there.
if(KMEANS_TESTS)
  add_test(NAME package
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/drivers/package_test.sh
      ${CMAKE_CPACK_COMMAND} ${CMAKE_CURRENT_BINARY_DIR}/CPackConfig.cmake
      ${CMAKE_CURRENT_SOURCE_DIR}/examples/IRIS.DAT ${PROJECT_VERSION} ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(package PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

# A Debian package of what cmake/install.cmake installs, made by CPack
# (scripts/package.sh runs it): cpack -G DEB in the build folder.
# The Maintainer field; scripts/package.sh sets it from DEBFULLNAME and
# DEBEMAIL when they are set, as Debian's own tools do.
set(KESMARK_PACKAGE_MAINTAINER "Kesmark developers <kesmark@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kesmark)
set(CPACK_PACKAGE_VENDOR Kesmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESMARK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare two databases: schema, properties and data")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis is the summary above; this is the extended description.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Kesmark shows how two databases differ: their own properties, tables with\n"
  "fields and indexes, queries with fields and parameters, relations,\n"
  "containers with documents and, on request, the stored values record by\n"
  "record. Each side is a SQLite file, an Access .mdb/.accdb file or an ODBC\n"
  "connect string, always opened read-only.\n"
  ".\n"
  "This package holds the desktop program kesmark and the command-line\n"
  "program kesmark-diff, for scripts and continuous integration.")
# Depends from the shared libraries the programs use, as dpkg-shlibdeps
# finds them; the ODBC drivers are the user's choice.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql, libsqliteodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The package's changelog must name the version being packaged.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^kesmark \\(${PROJECT_VERSION}\\)")
  message(WARNING "packaging/changelog does not begin with version ${PROJECT_VERSION}")
endif()

include(CPack)

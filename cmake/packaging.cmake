# `cpack -G DEB` in the build directory makes one Debian package with the
# library, its header and development files, and mox-collect. The
# dependencies are read off the binaries (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME mox)
set(CPACK_PACKAGE_VENDOR "mox")
set(CPACK_PACKAGE_CONTACT "mox maintainers <mox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "In-process instrumentation library for native server components")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "libmox.so times nested calls of a host's components, aggregates them per interval and writes\n"
       "metric text and transaction traces to a file or to collecting agents. mox-collect is such an agent.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)

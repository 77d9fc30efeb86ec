# Packages of the installed tree: `cpack -G DEB` in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr (the library folder then follows Debian's multiarch layout).
# One package holds the tool, the filter's module, the headers, the static libraries and the
# CMake package; its run-time dependencies are read from the binaries (dpkg-shlibdeps).
set(SKTS_PACKAGE_MAINTAINER "Korvath TS developers <skts@korvath.invalid>" CACHE STRING
    "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME skts)
set(CPACK_PACKAGE_VENDOR Korvath)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SKTS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MPEG-2 transport-stream analyser and demultiplexer")
set(CPACK_PACKAGE_DESCRIPTION
"skts analyses transport streams (programs, bit rates, stream properties, PCR accuracy and
jitter, 27 conformance indicators modelled on TR 101 290) and demultiplexes their PES
payloads, directly or through the DirectShow-style demultiplexer filter, whose COM module
it registers. The package also holds the transport-stream toolkit and the demultiplexer
engine as static libraries with their headers and a CMake package (find_package(Skts)).")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, cmake (>= 3.22), g++")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)

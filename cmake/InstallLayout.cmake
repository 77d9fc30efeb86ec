# Where `cmake --install` and the packages put things, relative to the install prefix.
include(GNUInstallDirs)

# Headers go to a folder of their own: the toolkit's names (Crc32.h, ComPlatform.h) are too
# plain for the system's include folder.
set(SKTS_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/skts)
set(SKTS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Skts)
# The filter's module: beside skts on Windows, where COM servers live with their programs; a
# private library folder elsewhere, as a plug-in that nobody links against.
if(WIN32)
  set(SKTS_INSTALL_MODULEDIR ${CMAKE_INSTALL_BINDIR})
else()
  set(SKTS_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/skts)
endif()
# The installed skts finds the module through this path relative to its own folder, so the
# installed tree can be moved (a package unpacked with dpkg -x works too).
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE _skts_bindir)
cmake_path(ABSOLUTE_PATH SKTS_INSTALL_MODULEDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE _skts_moduledir)
file(RELATIVE_PATH SKTS_MODULE_DIR_FROM_BINDIR ${_skts_bindir} ${_skts_moduledir})
if(SKTS_MODULE_DIR_FROM_BINDIR STREQUAL "")
  set(SKTS_MODULE_DIR_FROM_BINDIR ".")
endif()

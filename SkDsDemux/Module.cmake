# The filter as a loadable COM in-process server (SkDsDemux.so here, SkDsDemux.ax on Windows)
# built from the static libraries, exporting the entry points of SkDsDemux.def only. It lands
# beside skts, where skts register and skts play look for it.
add_library(SkDsDemuxModule MODULE Source/SkDsDemuxServer.cpp)
target_link_libraries(SkDsDemuxModule PRIVATE SkDsDemux)
set_target_properties(SkDsDemuxModule PROPERTIES
  OUTPUT_NAME SkDsDemux
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/Tools/skts)

if(WIN32)
  set_target_properties(SkDsDemuxModule PROPERTIES SUFFIX ".ax")
  target_sources(SkDsDemuxModule PRIVATE SkDsDemux.def)
else()
  set_target_properties(SkDsDemuxModule PROPERTIES SUFFIX ".so")
  # The version script lists the .def's exports as global and hides the rest, the C++ runtime's
  # template instances included.
  file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/SkDsDemux.def _skts_def_lines)
  set(_skts_exports "")
  set(_skts_in_exports FALSE)
  foreach(_line IN LISTS _skts_def_lines)
    string(STRIP "${_line}" _line)
    if(_line STREQUAL "EXPORTS")
      set(_skts_in_exports TRUE)
    elseif(_skts_in_exports AND _line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
      string(APPEND _skts_exports "    ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  set(_skts_version_script ${CMAKE_CURRENT_BINARY_DIR}/SkDsDemux.version)
  file(WRITE ${_skts_version_script} "{\n  global:\n${_skts_exports}  local:\n    *;\n};\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/SkDsDemux.def)
  target_link_options(SkDsDemuxModule PRIVATE -Wl,--version-script=${_skts_version_script})
  set_target_properties(SkDsDemuxModule PROPERTIES LINK_DEPENDS ${_skts_version_script})
  if(SKTS_SANITIZE STREQUAL "")
    target_link_options(SkDsDemuxModule PRIVATE -Wl,-z,defs)
  endif()
endif()

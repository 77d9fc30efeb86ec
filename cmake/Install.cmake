# `cmake --install`: skts with its manual page and completion (Tools/skts), the filter's module,
# the static libraries with the public headers they need, and the CMake package Skts with the
# targets Skts::SklibTs and Skts::DsDemux.
include(CMakePackageConfigHelpers)

# The headers an entry header needs, itself included: every `#include "..."` followed through the
# given folders. Each result is "folder|name", name being the path the includes use.
function(skts_header_closure out_var)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS;FOLDERS")
  set(pending ${arg_HEADERS})
  set(found "")
  while(pending)
    list(POP_FRONT pending name)
    set(located "")
    foreach(folder IN LISTS arg_FOLDERS)
      if(EXISTS ${folder}/${name})
        set(located ${folder})
        break()
      endif()
    endforeach()
    if(NOT located)
      message(FATAL_ERROR "public header ${name} is in none of ${arg_FOLDERS}")
    endif()
    if("${located}|${name}" IN_LIST found)
      continue()
    endif()
    list(APPEND found "${located}|${name}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${located}/${name})
    file(STRINGS ${located}/${name} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" included "${line}")
      list(APPEND pending ${included})
    endforeach()
  endwhile()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

# The public interface: the analyser and its packet input, and the demultiplexer engine.
# The engine's results are COM result codes, so the platform layer's declarations come along.
set(_skts_header_folders
  ${PROJECT_SOURCE_DIR}/SklibTs
  ${PROJECT_SOURCE_DIR}/SkDsDemux/Source
  ${PROJECT_SOURCE_DIR}/BaseClasses)
skts_header_closure(SKTS_PUBLIC_HEADERS
  HEADERS SkTsInfo.h SkTsPacketInput.h Demuxer.h
  FOLDERS ${_skts_header_folders})
foreach(entry IN LISTS SKTS_PUBLIC_HEADERS)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 folder)
  list(GET parts 1 name)
  get_filename_component(subfolder ${name} DIRECTORY)
  install(FILES ${folder}/${name} DESTINATION ${SKTS_INSTALL_INCLUDEDIR}/${subfolder} COMPONENT Development)
endforeach()

# Static libraries. The engine's library is exported as Skts::DsDemux; the base classes get a
# name that cannot clash in the system's library folder.
set_target_properties(SkDsDemux PROPERTIES EXPORT_NAME DsDemux)
set_target_properties(BaseClasses PROPERTIES OUTPUT_NAME SktsBaseClasses)
install(TARGETS SklibTsPacket SklibTsPsi SklibTsEs SklibTs BaseClasses SkDsDemux
  EXPORT SktsTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  INCLUDES DESTINATION ${SKTS_INSTALL_INCLUDEDIR})
install(EXPORT SktsTargets NAMESPACE Skts:: DESTINATION ${SKTS_INSTALL_CMAKEDIR} COMPONENT Development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SktsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SktsConfig.cmake
  INSTALL_DESTINATION ${SKTS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SktsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SktsConfig.cmake ${PROJECT_BINARY_DIR}/SktsConfigVersion.cmake
  DESTINATION ${SKTS_INSTALL_CMAKEDIR} COMPONENT Development)

install(TARGETS skts RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tool)
install(TARGETS SkDsDemuxModule LIBRARY DESTINATION ${SKTS_INSTALL_MODULEDIR} COMPONENT Tool)

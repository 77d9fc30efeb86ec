# Each component of a folder lists its own sources in a <component>.cmake file beside the
# folder's CMakeLists.txt, so components grow independently of each other.
macro(skts_include_fragments)
  file(GLOB _skts_fragments CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cmake")
  list(SORT _skts_fragments)
  foreach(_fragment IN LISTS _skts_fragments)
    include("${_fragment}")
  endforeach()
endmacro()

# A target whose components have not added sources yet gets an empty translation unit, so
# the tree configures while the component is being written.
function(skts_ensure_sources)
  foreach(target IN LISTS ARGN)
    get_target_property(_sources ${target} SOURCES)
    if(NOT _sources)
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}Empty.cpp "// no sources yet\n")
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}Empty.cpp)
    endif()
  endforeach()
endfunction()

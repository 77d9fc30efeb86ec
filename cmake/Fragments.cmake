# Each component of a folder lists its own sources in a <component>.cmake file beside the
# folder's CMakeLists.txt, so components grow independently of each other.
macro(skts_include_fragments)
  file(GLOB _skts_fragments CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cmake")
  list(SORT _skts_fragments)
  foreach(_fragment IN LISTS _skts_fragments)
    include("${_fragment}")
  endforeach()
endmacro()

# --version, help COMMAND, the answer to a missing or unknown command, and the generators of
# the manual page and the bash completion.
target_sources(skts PRIVATE
  BashCompletion.cpp
  CommandGuide.cpp
  ManualPage.cpp
  ToolCommands.cpp
)
target_compile_definitions(skts PRIVATE
  SKTS_VERSION="${PROJECT_VERSION}"
  SKTS_BUILD_TYPE="$<IF:$<CONFIG:>,unspecified,$<CONFIG>>")

# The revision skts is built from, looked up on every build.
find_program(SKTS_GIT git)
set(_skts_build_id ${CMAKE_CURRENT_BINARY_DIR}/BuildId.cpp)
add_custom_target(skts_build_id
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${_skts_build_id} -DGIT=${SKTS_GIT}
          -P ${PROJECT_SOURCE_DIR}/cmake/BuildId.cmake
  BYPRODUCTS ${_skts_build_id}
  VERBATIM)
target_sources(skts PRIVATE ${_skts_build_id})
add_dependencies(skts skts_build_id)

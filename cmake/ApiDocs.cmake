# `cmake --build BUILD --target docs`: the HTML reference of the public headers (Doxygen), in
# BUILD/docs/html. The platform layer's COM declarations are installed with the engine's header
# but documented by the Windows SDK, not here.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(SKTS_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
  set(SKTS_DOCS_INPUT "")
  foreach(entry IN LISTS SKTS_PUBLIC_HEADERS)
    string(REPLACE "|" "/" header "${entry}")
    if(NOT header MATCHES "^${PROJECT_SOURCE_DIR}/BaseClasses/")
      string(APPEND SKTS_DOCS_INPUT " \\\n                         ${header}")
    endif()
  endforeach()
  string(APPEND SKTS_DOCS_INPUT " \\\n                         ${PROJECT_SOURCE_DIR}/Docs/Api.md")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SKTS_DOCS_DIR}
    COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/Doxyfile
    COMMAND ${CMAKE_COMMAND} -E cat ${SKTS_DOCS_DIR}/warnings.log
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "API reference in ${SKTS_DOCS_DIR}/html"
    VERBATIM)
endif()

# The API reference: Doxygen over the public headers, without a single warning.
if(DOXYGEN_FOUND)
  skts_add_suite(SktsApiDocsTests ApiDocsTests.cpp)
  target_compile_definitions(SktsApiDocsTests PRIVATE SKTS_DOXYGEN="$<TARGET_FILE:Doxygen::doxygen>"
                             SKTS_DOXYFILE="${PROJECT_BINARY_DIR}/Doxyfile")
endif()

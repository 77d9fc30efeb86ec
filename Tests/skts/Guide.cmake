# skts --version, help COMMAND and the answer to a missing or unknown command (the tool run as a
# process), and the writers of the command list, manual page and completion (on their sources).
skts_add_test(SktsGuideTests GuideCliTests.cpp)
target_compile_definitions(SktsGuideTests PRIVATE SKTS_TOOL="$<TARGET_FILE:skts>" SKTS_PROJECT_VERSION="${PROJECT_VERSION}")
# The filter reports the product's version: the two must not drift apart.
target_include_directories(SktsGuideTests PRIVATE ${PROJECT_SOURCE_DIR}/SkDsDemux/Source)
target_link_libraries(SktsGuideTests PRIVATE SklibTs BaseClasses)
add_dependencies(SktsGuideTests skts)

include(${PROJECT_SOURCE_DIR}/cmake/HeaderOnlyDeps.cmake)
set(_skts_tool ${PROJECT_SOURCE_DIR}/Tools/skts)
skts_add_test(SktsToolCommandTests ToolCommandTests.cpp
  ${_skts_tool}/BashCompletion.cpp ${_skts_tool}/CommandGuide.cpp ${_skts_tool}/ManualPage.cpp)
target_include_directories(SktsToolCommandTests PRIVATE ${_skts_tool})
target_link_libraries(SktsToolCommandTests PRIVATE CLI11::CLI11)

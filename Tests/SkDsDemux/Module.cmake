# The filter's module loaded as applications load it: the tests link the base classes only and
# know the filter by its identifiers.
skts_add_test(SkDsDemuxModuleTests ModuleTests.cpp)
target_link_libraries(SkDsDemuxModuleTests PRIVATE BaseClasses)
target_include_directories(SkDsDemuxModuleTests PRIVATE ${PROJECT_SOURCE_DIR}/SkDsDemux/Source)
target_compile_definitions(SkDsDemuxModuleTests PRIVATE SKTS_MODULE="$<TARGET_FILE:SkDsDemuxModule>")
add_dependencies(SkDsDemuxModuleTests SkDsDemuxModule)

# skts register/unregister/filters and a separate program that creates the filter by CLSID.
find_package(nlohmann_json REQUIRED)
add_executable(skts_clsid_client ClsidClient.cpp)
target_link_libraries(skts_clsid_client PRIVATE BaseClasses nlohmann_json::nlohmann_json)
target_include_directories(skts_clsid_client PRIVATE ${PROJECT_SOURCE_DIR}/SkDsDemux/Source)

skts_add_test(SktsComServerTests ComServerCliTests.cpp)
target_link_libraries(SktsComServerTests PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(SktsComServerTests PRIVATE SKTS_TOOL="$<TARGET_FILE:skts>"
                           SKTS_CLSID_CLIENT="$<TARGET_FILE:skts_clsid_client>")
add_dependencies(SktsComServerTests skts skts_clsid_client)

skts_add_bench(EngineBench EngineBench.cpp)
target_link_libraries(EngineBench PRIVATE SkDsDemux)

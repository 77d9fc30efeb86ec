target_sources(skts PRIVATE DemuxCommand.cpp)
target_link_libraries(skts PRIVATE SkDsDemux)

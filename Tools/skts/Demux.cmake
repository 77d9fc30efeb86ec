target_sources(skts PRIVATE DemuxCommand.cpp OutputFiles.cpp)
target_link_libraries(skts PRIVATE SkDsDemux)

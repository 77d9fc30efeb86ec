target_sources(skts PRIVATE BackgroundWriter.cpp DemuxCommand.cpp OutputFiles.cpp)
target_link_libraries(skts PRIVATE SkDsDemux)

target_sources(SkDsDemux PRIVATE Source/SkDsLogger.cpp)

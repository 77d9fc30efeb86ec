# The logger is tested on its own sources, so its tests do not wait for the rest of SkDsDemux.
skts_add_test(SkDsLoggerTests SkDsLoggerTests.cpp ${PROJECT_SOURCE_DIR}/SkDsDemux/Source/SkDsLogger.cpp)
target_include_directories(SkDsLoggerTests PRIVATE ${PROJECT_SOURCE_DIR}/SkDsDemux/Source)
target_link_libraries(SkDsLoggerTests PRIVATE BaseClasses)

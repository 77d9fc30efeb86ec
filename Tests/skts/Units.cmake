# The tool's helpers, tested on their own sources.
set(_skts_tool ${PROJECT_SOURCE_DIR}/Tools/skts)
skts_add_test(SktsUnitTests ToolUnitTests.cpp BufferedIoTests.cpp
  ${_skts_tool}/BackgroundWriter.cpp ${_skts_tool}/EventCoalescer.cpp ${_skts_tool}/OutputFiles.cpp ${_skts_tool}/PidText.cpp
  ${_skts_tool}/IoThread.cpp ${_skts_tool}/ReadAhead.cpp ${_skts_tool}/TerminalText.cpp)
target_include_directories(SktsUnitTests PRIVATE ${_skts_tool})
target_link_libraries(SktsUnitTests PRIVATE SklibTsPsi)

# The network input's and the progress line's helpers, tested on their own sources.
skts_add_test(SktsLiveUnitTests LiveUnitTests.cpp
  ${PROJECT_SOURCE_DIR}/Tools/skts/LiveAddress.cpp
  ${PROJECT_SOURCE_DIR}/Tools/skts/ProgressDisplay.cpp
  ${PROJECT_SOURCE_DIR}/Tools/skts/RtpDepacketizer.cpp)
target_include_directories(SktsLiveUnitTests PRIVATE ${PROJECT_SOURCE_DIR}/Tools/skts)

skts_add_test(SklibTsAnalyserTests
  AnalyserTests.cpp
  ConformanceTests.cpp
  IsdbtTests.cpp
  PacketInputTests.cpp
  RateMeterTests.cpp
  TableBookTests.cpp
)
target_link_libraries(SklibTsAnalyserTests PRIVATE SklibTs)

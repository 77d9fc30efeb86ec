skts_add_test(SklibTsAnalyserTests
  AnalyserTests.cpp
  ConformanceTests.cpp
  IsdbtTests.cpp
  PacketInputTests.cpp
  PcrAnalysisTests.cpp
  RateMeterTests.cpp
  RepetitionRuleTests.cpp
  TableBookTests.cpp
)
target_link_libraries(SklibTsAnalyserTests PRIVATE SklibTs)

skts_add_test(SklibTsAnalyserTests
  AnalyserTests.cpp
  ConformanceTests.cpp
  IsdbtTests.cpp
  PacketInputTests.cpp
  PcrStatisticsTests.cpp
  RateMeterTests.cpp
  RuleSetTests.cpp
  ServiceInformationTests.cpp
  TableBookTests.cpp
)
target_link_libraries(SklibTsAnalyserTests PRIVATE SklibTs)

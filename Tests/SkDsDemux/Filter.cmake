find_package(nlohmann_json REQUIRED)
skts_add_test(SkDsDemuxFilterTests
  ConcurrencyTests.cpp
  DeliveryTests.cpp
  FilterGraphTests.cpp
  FilterInterfaceTests.cpp
  FilterPinTests.cpp
  FilterStateTests.cpp
  InputPinTests.cpp
  OutputPinTests.cpp
  PidMapTests.cpp
  ReferenceClockTests.cpp
  TimeBaseTests.cpp
)
target_link_libraries(SkDsDemuxFilterTests PRIVATE SkDsDemux nlohmann_json::nlohmann_json)

find_package(nlohmann_json REQUIRED)
skts_add_test(SkDsDemuxFilterTests
  ConcurrencyTests.cpp
  DeliveryTests.cpp
  FilterGraphTests.cpp
  TimeBaseTests.cpp
)
target_link_libraries(SkDsDemuxFilterTests PRIVATE SkDsDemux nlohmann_json::nlohmann_json)

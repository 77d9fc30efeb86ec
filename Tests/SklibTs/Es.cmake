skts_add_test(SklibTsEsTests
  EsRealDataTests.cpp
  EsVideoParserTests.cpp
  EsAudioParserTests.cpp
  EsDispatchTests.cpp
)
target_link_libraries(SklibTsEsTests PRIVATE SklibTsEs)

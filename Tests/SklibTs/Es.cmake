skts_add_test(SklibTsEsTests
  EsRealDataTests.cpp
  EsVideoParserTests.cpp
)
target_link_libraries(SklibTsEsTests PRIVATE SklibTsEs)

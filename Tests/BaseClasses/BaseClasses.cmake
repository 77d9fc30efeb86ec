skts_add_test(BaseClassesTests
  AllocatorTests.cpp
  ClassFactoryTests.cpp
  ClockTests.cpp
  ComBaseTests.cpp
  FilterTests.cpp
  GraphTests.cpp
  PinTests.cpp
  Probes.cpp
  ResultCodeTests.cpp
)
target_link_libraries(BaseClassesTests PRIVATE BaseClasses)

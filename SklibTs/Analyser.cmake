target_sources(SklibTs PRIVATE
  ConformanceChecks.cpp
  Indicators.cpp
  IsdbtDecoder.cpp
  PesCollector.cpp
  RateMeter.cpp
  TsInfoImpl.cpp
  TsInfoPrograms.cpp
  TsInfoTables.cpp
  TsPacketInputImpl.cpp
)

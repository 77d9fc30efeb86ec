target_sources(SklibTs PRIVATE
  ConformanceChecks.cpp
  Indicators.cpp
  IsdbtDecoder.cpp
  PesCollector.cpp
  RateMeter.cpp
  TsInfoImpl.cpp
  TsInfoTables.cpp
  TsPacketInputImpl.cpp
)

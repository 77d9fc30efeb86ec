target_sources(SklibTs PRIVATE
  Indicators.cpp
  IsdbtDecoder.cpp
  PesCollector.cpp
  RateMeter.cpp
  TsInfoImpl.cpp
  TsInfoTables.cpp
  TsPacketInputImpl.cpp
)

target_sources(SklibTs PRIVATE
  ConformanceChecks.cpp
  Indicators.cpp
  IsdbtDecoder.cpp
  PcrAnalysis.cpp
  PcrHistory.cpp
  PesCollector.cpp
  RateMeter.cpp
  RepetitionRules.cpp
  ServiceInformation.cpp
  TableClass.cpp
  TsInfoImpl.cpp
  TsInfoPrograms.cpp
  TsInfoTables.cpp
  TsPacketInputImpl.cpp
)

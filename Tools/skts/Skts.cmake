target_sources(skts PRIVATE
  AnalysisReport.cpp
  AnalyzeCommand.cpp
  ByteSource.cpp
  ConformanceCollector.cpp
  main.cpp
  IoThread.cpp
  MuxRate.cpp
  PidText.cpp
  ReadAhead.cpp
)

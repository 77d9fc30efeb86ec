target_sources(skts PRIVATE
  AnalysisReport.cpp
  AnalyzeCommand.cpp
  ByteSource.cpp
  ConformanceCollector.cpp
  IoThread.cpp
  main.cpp
  MuxRate.cpp
  PidText.cpp
  ReadAhead.cpp
)

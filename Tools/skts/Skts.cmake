target_sources(skts PRIVATE
  AnalysisReport.cpp
  AnalyzeCommand.cpp
  ByteSource.cpp
  main.cpp
)

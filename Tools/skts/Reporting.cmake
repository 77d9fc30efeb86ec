target_sources(skts PRIVATE
  AnalyserTotals.cpp
  EventCoalescer.cpp
  EventWriter.cpp
  StdoutSink.cpp
  TerminalText.cpp
)

target_sources(skts PRIVATE
  Analysis.cpp
  CommandOptions.cpp
  ProgressDisplay.cpp
  ReportSeries.cpp
  TimelineTracker.cpp
)

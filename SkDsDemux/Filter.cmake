target_sources(SkDsDemux PRIVATE
  Source/EsDeliverThread.cpp
  Source/EsPin.cpp
  Source/PidMapEnumerator.cpp
  Source/ReferenceClock.cpp
  Source/SkDsDemux.cpp
  Source/TimeBase.cpp
  Source/TsPin.cpp
)

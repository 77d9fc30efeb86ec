target_sources(BaseClasses PRIVATE
  AMEvent.cpp
  AMThread.cpp
  BaseAllocator.cpp
  BaseFilter.cpp
  BaseInputPin.cpp
  BaseOutputPin.cpp
  BasePin.cpp
  ClassFactory.cpp
  ComBase.cpp
  EnumMediaTypes.cpp
  EnumPins.cpp
  MediaSample.cpp
  MediaType.cpp
  MemAllocator.cpp
  PlatformPosix.cpp
  RefClock.cpp
  Schedule.cpp
  WindowsGuids.cpp
)
target_sources(BaseClasses PRIVATE
  Host/ByteReader.cpp
  Host/FilterGraph.cpp
  Host/PushSource.cpp
  Host/SampleSink.cpp
)

target_sources(skts PRIVATE
  MediaTypes.cpp
  PinSink.cpp
  PlayCommand.cpp
  PlayInput.cpp
)

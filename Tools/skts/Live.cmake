target_sources(skts PRIVATE
  LiveAddress.cpp
  LiveSource.cpp
  RtpDepacketizer.cpp
  UdpReceiver.cpp
)

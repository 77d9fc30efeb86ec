target_sources(skts PRIVATE
  LiveAddress.cpp
  LiveSource.cpp
  RtpDepacketizer.cpp
  StopRequest.cpp
  UdpReceiver.cpp
)
# Winsock, and the adapter list an ?interface= name is looked up in.
if(WIN32)
  target_link_libraries(skts PRIVATE ws2_32 iphlpapi)
endif()

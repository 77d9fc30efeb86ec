target_sources(SklibTsEs PRIVATE
  AacParser.cpp
  Ac3Parser.cpp
  EsDescription.cpp
  EsParser.cpp
  EsProperties.cpp
  ExpGolombReader.cpp
  H264Parser.cpp
  HevcParser.cpp
  J2kParser.cpp
  JpegXsParser.cpp
  MpegAudioParser.cpp
  MpegVideoParser.cpp
  NalUnits.cpp
  StreamInfoStore.cpp
  Vc1Parser.cpp
  VesParser.cpp
)

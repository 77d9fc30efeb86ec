target_sources(SklibTsPacket PRIVATE BitReader.cpp SkTp.cpp)

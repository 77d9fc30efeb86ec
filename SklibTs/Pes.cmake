target_sources(SklibTsPacket PRIVATE SkPes.cpp)

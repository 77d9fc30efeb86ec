target_sources(SklibTsPsi PRIVATE Utf8Text.cpp)

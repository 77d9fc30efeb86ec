target_sources(SkDsDemux PRIVATE
  Source/Demuxer.cpp
  Source/PesPool.cpp
)

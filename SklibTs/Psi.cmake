target_sources(SklibTsPsi PRIVATE
  Crc32.cpp
  SkTable.cpp
  SkTableSection.cpp
  TableKey.cpp
)

target_sources(SklibTsPsi PRIVATE
  Crc32.cpp
  Descriptor.cpp
  DvbText.cpp
  DvbTextCjkTables.cpp
  DvbTextTables.cpp
  SkStructuredTable.cpp
  SkTable.cpp
  SkTableCat.cpp
  SkTablePat.cpp
  SkTablePmt.cpp
  SkTableSection.cpp
  TableKey.cpp
)

target_sources(SklibTsPsi PRIVATE
  Crc32.cpp
  Descriptor.cpp
  DvbText.cpp
  DvbTextCjkTables.cpp
  DvbTextTables.cpp
  SiDescriptors.cpp
  SkStructuredTable.cpp
  SkTable.cpp
  SkTableCat.cpp
  SkTableMgt.cpp
  SkTableNit.cpp
  SkTablePat.cpp
  SkTablePmt.cpp
  SkTableSdt.cpp
  SkTableSection.cpp
  TableKey.cpp
)

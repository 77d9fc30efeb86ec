# Registry, filter data, filter mapper, COM runtime and registration from a template table.
target_sources(BaseClassesTests PRIVATE
  FilterMapperTests.cpp
  RegistryTests.cpp
)

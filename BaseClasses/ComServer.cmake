# What an in-process server needs to register itself and an application to create it: the
# registration from a template table and the filter data everywhere; the COM runtime, the
# registry and the filter mapper where Windows does not supply them.
target_sources(BaseClasses PRIVATE
  DllSetup.cpp
  FilterCatalog.cpp
  FilterData.cpp
)
if(NOT WIN32)
  target_sources(BaseClasses PRIVATE
    ComRuntime.cpp
    FilterMapper.cpp
    FilterMoniker.cpp
    Registry/RegistryApi.cpp
    Registry/RegistryFile.cpp
    Registry/RegistryText.cpp
    Registry/RegistryTree.cpp
  )
  target_link_libraries(BaseClasses PUBLIC ${CMAKE_DL_LIBS})
endif()

# cpack -G DEB from this build tree, unpacked with dpkg -x into a scratch root and checked there.
if(SKTS_DPKG_DEB AND NOT WIN32)
  skts_add_suite(SktsPackageTests PackageTests.cpp)
  target_compile_definitions(SktsPackageTests PRIVATE SKTS_GROFF="${SKTS_GROFF}")
endif()

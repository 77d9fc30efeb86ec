# cmake --install into a scratch prefix; the examples built there with find_package(Skts) and run.
skts_add_suite(SktsInstallTests InstallTests.cpp)

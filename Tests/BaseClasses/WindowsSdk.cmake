# Every BaseClasses source also compiles against the Windows SDK headers that mingw-w64 ships
# (ComPlatform.h takes them on Windows), so the Windows branch cannot rot while the builds
# that run are POSIX ones. ./test installs mingw-w64 when it is missing; the posix thread
# model is the one with std::thread and std::mutex.
find_program(SKTS_MINGW_CXX x86_64-w64-mingw32-g++-posix)
file(GLOB_RECURSE _skts_base_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/BaseClasses/*.cpp)
if(SKTS_MINGW_CXX)
  foreach(_source IN LISTS _skts_base_sources)
    file(RELATIVE_PATH _name ${PROJECT_SOURCE_DIR}/BaseClasses ${_source})
    add_test(NAME WindowsSdkSyntax.${_name}
             COMMAND ${SKTS_MINGW_CXX} -std=c++20 -fsyntax-only -Wall -Wextra -Werror
                     -I${PROJECT_SOURCE_DIR}/BaseClasses ${_source})
  endforeach()
else()
  add_test(NAME WindowsSdkSyntax.CompilerMissing
           COMMAND sh -c "echo 'x86_64-w64-mingw32-g++-posix not found: install mingw-w64 (./test does)' >&2; exit 1")
endif()

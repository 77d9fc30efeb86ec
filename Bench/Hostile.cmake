# Writes the hostile streams that Bench/hostile-memory.sh measures skts against.
add_executable(HostileStreams HostileStreams.cpp)
target_include_directories(HostileStreams PRIVATE ${PROJECT_SOURCE_DIR}/Tests/Common)

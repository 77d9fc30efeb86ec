target_sources(skts PRIVATE main.cpp)

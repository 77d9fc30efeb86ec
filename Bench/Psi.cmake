skts_add_bench(PsiBench PsiBench.cpp)
target_link_libraries(PsiBench PRIVATE SklibTsPsi)
target_include_directories(PsiBench PRIVATE ${PROJECT_SOURCE_DIR}/Tests/Common)

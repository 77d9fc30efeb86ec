# skts register/unregister/filters, and the module beside skts that they and skts play use.
target_sources(skts PRIVATE
  ComSupport.cpp
  RegisterCommand.cpp
)
target_compile_definitions(skts PRIVATE SKTS_MODULE_FILE_NAME="$<TARGET_FILE_NAME:SkDsDemuxModule>")
add_dependencies(skts SkDsDemuxModule)

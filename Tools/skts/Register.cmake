# skts register/unregister/filters, and the module they register by default: beside skts in the
# build tree, in the module folder (relative to skts's) once installed.
target_sources(skts PRIVATE
  ComSupport.cpp
  RegisterCommand.cpp
)
target_compile_definitions(skts PRIVATE SKTS_MODULE_FILE_NAME="$<TARGET_FILE_NAME:SkDsDemuxModule>"
                           SKTS_MODULE_DIR_FROM_BINDIR="${SKTS_MODULE_DIR_FROM_BINDIR}")
add_dependencies(skts SkDsDemuxModule)

# The report pages are opened in headless Chromium by a Node script (playwright-core from the
# npm registry, installed with npm ci into the build tree from the committed package files).
find_package(nlohmann_json REQUIRED)
find_program(SKTS_NPM npm REQUIRED)
find_program(SKTS_NODE node REQUIRED)
set(_skts_check_src ${CMAKE_CURRENT_SOURCE_DIR}/report)
set(_skts_check_dir ${CMAKE_CURRENT_BINARY_DIR}/report-check)
add_custom_command(
  OUTPUT ${_skts_check_dir}/node_modules/playwright-core/package.json
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_skts_check_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_skts_check_src}/package.json ${_skts_check_src}/package-lock.json
          ${_skts_check_dir}
  COMMAND ${SKTS_NPM} ci --prefix ${_skts_check_dir} --ignore-scripts --no-audit --no-fund --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch_nocreate ${_skts_check_dir}/node_modules/playwright-core/package.json
  DEPENDS ${_skts_check_src}/package.json ${_skts_check_src}/package-lock.json
  COMMENT "npm ci: playwright-core for the report page tests"
  VERBATIM)
# Beside its node_modules, so that require() finds them.
add_custom_command(
  OUTPUT ${_skts_check_dir}/check-report.js
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_skts_check_src}/check-report.js ${_skts_check_dir}/check-report.js
  DEPENDS ${_skts_check_src}/check-report.js ${_skts_check_dir}/node_modules/playwright-core/package.json
  VERBATIM)
add_custom_target(SktsReportCheck DEPENDS ${_skts_check_dir}/check-report.js)

skts_add_test(SktsReportTests ReportPageTests.cpp)
target_link_libraries(SktsReportTests PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(SktsReportTests PRIVATE
  SKTS_TOOL="$<TARGET_FILE:skts>"
  SKTS_NODE="${SKTS_NODE}"
  SKTS_REPORT_CHECK="${_skts_check_dir}/check-report.js"
  SKTS_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/report-screenshots")
add_dependencies(SktsReportTests skts SktsReportCheck)

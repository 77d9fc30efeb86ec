# skts report inlines uPlot into its pages: npm ci installs it into the build tree from the
# committed package.json and lock, and the script and style files are compiled in as bytes.
find_program(SKTS_NPM npm)
if(NOT SKTS_NPM)
  message(FATAL_ERROR "npm is needed to build skts (the report page's charting library): install nodejs and npm")
endif()
set(_skts_report_src ${CMAKE_CURRENT_SOURCE_DIR}/report)
set(_skts_report_npm ${CMAKE_CURRENT_BINARY_DIR}/report-npm)
set(_skts_uplot ${_skts_report_npm}/node_modules/uplot/dist)
add_custom_command(
  OUTPUT ${_skts_uplot}/uPlot.iife.min.js ${_skts_uplot}/uPlot.min.css
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_skts_report_npm}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_skts_report_src}/package.json ${_skts_report_src}/package-lock.json
          ${_skts_report_npm}
  COMMAND ${SKTS_NPM} ci --prefix ${_skts_report_npm} --ignore-scripts --no-audit --no-fund --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch_nocreate ${_skts_uplot}/uPlot.iife.min.js ${_skts_uplot}/uPlot.min.css
  DEPENDS ${_skts_report_src}/package.json ${_skts_report_src}/package-lock.json
  COMMENT "npm ci: uPlot for the report page"
  VERBATIM)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/ReportAssets.cpp
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/ReportAssets.cpp
          -DUPLOT_JS=${_skts_uplot}/uPlot.iife.min.js -DUPLOT_CSS=${_skts_uplot}/uPlot.min.css
          -DPAGE_JS=${_skts_report_src}/report.js -DPAGE_CSS=${_skts_report_src}/report.css
          -P ${_skts_report_src}/EmbedAssets.cmake
  DEPENDS ${_skts_uplot}/uPlot.iife.min.js ${_skts_uplot}/uPlot.min.css ${_skts_report_src}/report.js
          ${_skts_report_src}/report.css ${_skts_report_src}/EmbedAssets.cmake
  COMMENT "Embedding the report page's script and style"
  VERBATIM)
target_sources(skts PRIVATE
  ReportCommand.cpp
  ReportPage.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/ReportAssets.cpp
)
# The generated source lives in the build tree and includes ReportAssets.h from here.
target_include_directories(skts PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

# The manual page and the bash completion, written by the skts just built from its own command
# definitions: a new command or option appears in both without anyone editing them. A cross
# build cannot run the tool it makes, and Windows has neither.
if(NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  find_program(SKTS_GZIP gzip REQUIRED)
  set(SKTS_MANUAL_PAGE ${CMAKE_CURRENT_BINARY_DIR}/skts.1.gz)
  set(SKTS_BASH_COMPLETION ${CMAKE_CURRENT_BINARY_DIR}/skts.bash)
  add_custom_command(OUTPUT ${SKTS_MANUAL_PAGE}
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:skts> -DDOCUMENT=manual-page -DOUTPUT=${SKTS_MANUAL_PAGE}
            -DGZIP=${SKTS_GZIP} -P ${PROJECT_SOURCE_DIR}/cmake/ToolDocument.cmake
    DEPENDS skts ${PROJECT_SOURCE_DIR}/cmake/ToolDocument.cmake
    COMMENT "Writing the manual page of skts"
    VERBATIM)
  add_custom_command(OUTPUT ${SKTS_BASH_COMPLETION}
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:skts> -DDOCUMENT=bash-completion -DOUTPUT=${SKTS_BASH_COMPLETION}
            -P ${PROJECT_SOURCE_DIR}/cmake/ToolDocument.cmake
    DEPENDS skts ${PROJECT_SOURCE_DIR}/cmake/ToolDocument.cmake
    COMMENT "Writing the bash completion of skts"
    VERBATIM)
  add_custom_target(skts_documents ALL DEPENDS ${SKTS_MANUAL_PAGE} ${SKTS_BASH_COMPLETION})
  install(FILES ${SKTS_MANUAL_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tool)
  install(FILES ${SKTS_BASH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME skts COMPONENT Tool)
endif()

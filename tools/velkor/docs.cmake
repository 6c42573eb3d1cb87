# The manual pages and the bash completion, made from the built velkor's
# --help texts (gendocs.sh), and where `cmake --install` puts them.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found (scripts/deps.sh installs it): no manual pages or bash completion")
  return()
endif()
set(velkor_docs ${CMAKE_CURRENT_BINARY_DIR}/docs)
add_custom_command(OUTPUT ${velkor_docs}/stamp
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/gendocs.sh $<TARGET_FILE:velkor> ${velkor_docs} ${PROJECT_VERSION}
  COMMAND ${CMAKE_COMMAND} -E touch ${velkor_docs}/stamp
  DEPENDS velkor ${CMAKE_CURRENT_SOURCE_DIR}/gendocs.sh
  COMMENT "Manual pages and bash completion of velkor"
  VERBATIM)
add_custom_target(velkor_docs ALL DEPENDS ${velkor_docs}/stamp)
install(DIRECTORY ${velkor_docs}/man1/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${velkor_docs}/completion/velkor DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

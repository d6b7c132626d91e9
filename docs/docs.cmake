# Documentation: the generators of the opcode table in docs/machine.md and
# of the message table in docs/language.md, the update-docs target that
# rewrites those tables, and the install rules of the
# manual pages, the documents, the examples, the editor files and the
# diagnostics wrapper. Included from the top-level CMakeLists.txt.
include(GNUInstallDirs)

add_executable(opcode_table ${PROJECT_SOURCE_DIR}/docs/opcode_table.cpp)
target_include_directories(opcode_table PRIVATE ${PROJECT_SOURCE_DIR}/image)
target_compile_definitions(opcode_table PRIVATE
  VEXL_OPCODES_DEF="${PROJECT_SOURCE_DIR}/image/opcodes.def")
target_compile_options(opcode_table PRIVATE ${VEXL_WARNINGS})

add_executable(message_table ${PROJECT_SOURCE_DIR}/docs/message_table.cpp)
target_include_directories(message_table PRIVATE ${PROJECT_SOURCE_DIR}/compiler/diagnostics)
target_compile_options(message_table PRIVATE ${VEXL_WARNINGS})

add_custom_target(update-docs
  COMMAND opcode_table --update ${PROJECT_SOURCE_DIR}/docs/machine.md
  COMMAND message_table --update ${PROJECT_SOURCE_DIR}/docs/language.md
  COMMENT "Writing the opcode table of docs/machine.md from image/opcodes.def and the message table of docs/language.md from compiler/diagnostics/diagnostics.def"
  VERBATIM)

install(FILES
  ${PROJECT_SOURCE_DIR}/man/vexlc.1
  ${PROJECT_SOURCE_DIR}/man/vexl.1
  ${PROJECT_SOURCE_DIR}/man/vexldump.1
  ${PROJECT_SOURCE_DIR}/man/vexldb.1
  ${PROJECT_SOURCE_DIR}/man/vexl-grade.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The documents keep the README's layout, so that its links to docs/...
# work in the installed copy too.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.json")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/editors/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vexl/editors)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/vexlc-diag
  DESTINATION ${CMAKE_INSTALL_BINDIR})

# The editor integration end to end, with and without the stand-in editor.
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/editor ${CMAKE_BINARY_DIR}/tests/editor)
add_test(NAME editor_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/editor_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(editor_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

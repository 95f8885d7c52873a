# The viewer stepping through a folder of hostile files.
add_test(NAME hostile_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(hostile_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

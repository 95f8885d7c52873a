# The main window's commands: toolbar, menu sort items, open dialog, drops.
add_test(NAME commands_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/commands_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(commands_e2e PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)

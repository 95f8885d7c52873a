# Save As, associations, update check, migration and About end to end.
add_test(NAME features_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/features_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(features_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

# The thumbnail view with its worker, driven end to end.
add_test(NAME thumbs_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/thumbs_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(thumbs_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

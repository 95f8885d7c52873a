# The window stays live and the last request wins: update check, hand-over
# and start-up races.
add_test(NAME concurrency_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/concurrency_test.sh ${VS_SHELL_OUT} ${VS_WINE64} ${CMAKE_BINARY_DIR}/e2e-logs)
set_tests_properties(concurrency_e2e PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

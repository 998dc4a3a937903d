# pacterra-cli capture -w and the signals that end it during its save (root only: a network namespace of
# its own; skipped with the reason otherwise).
add_executable(cli_signals_tests cli_signals_test.cpp)
target_link_libraries(cli_signals_tests PRIVATE GTest::gtest)
target_compile_definitions(cli_signals_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(cli_signals_tests pacterra-cli)
add_test(NAME cli_signals_tests COMMAND cli_signals_tests)
set_tests_properties(cli_signals_tests PROPERTIES LABELS integration TIMEOUT 300 RUN_SERIAL TRUE)

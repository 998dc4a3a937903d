# Waiting for a child program with a limit, as the tests that run the programs do.
pacterra_unit_test(child_process_tests SOURCES child_process_test.cpp)

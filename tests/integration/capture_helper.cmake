# pacterra-capture on its own and under pacterra-cli: refused arguments, a terminal on its standard output,
# captures on loopback that its caller ends, a caller that stops reading or dies, and a user without rights
# capturing through a copy that alone holds them (root only: a network namespace of its own; skipped with
# the reason otherwise).
add_executable(capture_helper_tests capture_helper_test.cpp)
target_link_libraries(capture_helper_tests PRIVATE PkgConfig::PCAP GTest::gtest util)
target_include_directories(capture_helper_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(capture_helper_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(capture_helper_tests pacterra-capture pacterra-cli)
add_test(NAME capture_helper_tests COMMAND capture_helper_tests)
set_tests_properties(capture_helper_tests PROPERTIES LABELS integration TIMEOUT 300 RUN_SERIAL TRUE)

# The cost per packet of a rule's port condition, with and without the port look-ups, and of many rules.
add_executable(bench_rules ${CMAKE_CURRENT_SOURCE_DIR}/bench_rules.cpp)
target_link_libraries(bench_rules PRIVATE pacterra_rules benchmark::benchmark)

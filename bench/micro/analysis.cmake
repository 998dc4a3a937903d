# The connection filter over a million connections and the CSV / JSON Lines exports.
add_executable(bench_analysis ${CMAKE_CURRENT_SOURCE_DIR}/bench_analysis.cpp)
target_link_libraries(bench_analysis PRIVATE pacterra_analysis benchmark::benchmark)

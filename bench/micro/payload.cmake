# The payload text view: highlighting scans and ShowText.
add_executable(bench_payload ${CMAKE_CURRENT_SOURCE_DIR}/bench_payload.cpp)
target_link_libraries(bench_payload PRIVATE pacterra_views benchmark::benchmark)

# The traffic graph over an hour of 1,000,000 packets: keeping the rate bins, and redrawing.
add_executable(bench_traffic ${CMAKE_CURRENT_SOURCE_DIR}/bench_traffic.cpp)
target_link_libraries(bench_traffic PRIVATE pacterra_views benchmark::benchmark Qt6::Widgets)

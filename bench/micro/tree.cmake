# The decode tree: decoding and showing a full 65 536-byte frame.
add_executable(bench_tree ${CMAKE_CURRENT_SOURCE_DIR}/bench_tree.cpp)
target_link_libraries(bench_tree PRIVATE pacterra_views benchmark::benchmark Qt6::Widgets)

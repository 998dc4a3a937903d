# The filter line over a million connections, from the typed text to the repainted list.
add_executable(bench_filter_list ${CMAKE_CURRENT_SOURCE_DIR}/bench_filter_list.cpp)
target_link_libraries(bench_filter_list PRIVATE pacterra_views benchmark::benchmark Qt6::Widgets)

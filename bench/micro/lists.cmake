# The connections and packets lists over a large store: rows arriving, showing a big connection, paging,
# and what the lists cost the intake.
add_executable(bench_lists ${CMAKE_CURRENT_SOURCE_DIR}/bench_lists.cpp)
target_link_libraries(bench_lists PRIVATE pacterra_app benchmark::benchmark Qt6::Widgets)

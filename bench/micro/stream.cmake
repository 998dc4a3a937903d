# The stream of one big connection: reassembly, copy, text and live growth.
add_executable(bench_stream ${CMAKE_CURRENT_SOURCE_DIR}/bench_stream.cpp)
target_link_libraries(bench_stream PRIVATE pacterra_views benchmark::benchmark Qt6::Widgets)

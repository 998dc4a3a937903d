# The hex viewer: loading and painting a full 65 536-byte frame, and scrolling through it.
add_executable(bench_hexview ${CMAKE_CURRENT_SOURCE_DIR}/bench_hexview.cpp)
target_link_libraries(bench_hexview PRIVATE pacterra_views benchmark::benchmark Qt6::Widgets)

# The traffic graph: rates of the store over time, drawn from the rate bins of the analysis library.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/TrafficGraph.cpp)
target_link_libraries(pacterra_views PUBLIC pacterra_analysis)

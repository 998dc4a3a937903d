# The "Traffic" bar with the traffic graph.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/TrafficBar.cpp)

# The filter line over the connections list; the list filters through the analysis library.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ConnectionFilterLine.cpp)
target_link_libraries(pacterra_views PUBLIC pacterra_analysis)

# The "Stream" tab: the reassembled conversation of a connection.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/StreamView.cpp)
target_link_libraries(pacterra_views PUBLIC pacterra_stream)

# The main view: the "Data" tab hosting the payload text control.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/TrawlerView.cpp)

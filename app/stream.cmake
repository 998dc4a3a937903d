# The Stream tab's wiring to the lists.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/StreamWiring.cpp)

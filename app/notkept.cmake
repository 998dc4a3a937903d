target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/NotKeptPane.cpp)

target_sources(pacterra_decode PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/WideDecode.cpp)

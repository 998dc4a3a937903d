# The decode tree's line for a connection's server name.
target_sources(pacterra_decode PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/NameDecode.cpp)
target_link_libraries(pacterra_decode PUBLIC pacterra_names)

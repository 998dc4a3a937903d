target_sources(pacterra_decode PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/PacketDecode.cpp)
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ProtocolTreeView.cpp)

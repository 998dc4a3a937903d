# The conversation of one connection: TCP reassembly, UDP datagrams, and their text and raw bytes (no Qt).
add_library(pacterra_stream STATIC ${CMAKE_CURRENT_SOURCE_DIR}/StreamReassembly.cpp
                                   ${CMAKE_CURRENT_SOURCE_DIR}/StreamText.cpp)
target_include_directories(pacterra_stream PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pacterra_stream PUBLIC pacterra_capture)

# Server names of connections: the parsers of the first client bytes (TLS, QUIC Initial, HTTP, DNS) and the
# per-connection table the lists, the filter and the exports read. QUIC's Initial keys need libcrypto.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
add_library(pacterra_names STATIC ${CMAKE_CURRENT_SOURCE_DIR}/ServerName.cpp ${CMAKE_CURRENT_SOURCE_DIR}/DnsNameTable.cpp)
target_include_directories(pacterra_names PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pacterra_names PRIVATE OpenSSL::Crypto)
target_sources(pacterra_names PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ServerNameTable.cpp)
target_link_libraries(pacterra_names PUBLIC pacterra_stream pacterra_capture)
# The filter and the exports read the names.
target_link_libraries(pacterra_analysis PUBLIC pacterra_names)

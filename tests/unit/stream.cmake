# The reassembled stream of a connection: TCP reassembly, its text and raw bytes.
pacterra_unit_test(stream_tests
  SOURCES stream_test.cpp
  LIBS pacterra_stream)

# Captures derived from clean ones with segments swapped, sent twice, overlapping, late or dropped.
add_executable(pacterra-stream-mangle stream_mangle.cpp)
target_link_libraries(pacterra-stream-mangle PRIVATE PkgConfig::PCAP)
# pacterra-cli stream on real captures and on their derived ones.
pacterra_unit_test(stream_cli_tests
  SOURCES stream_cli_test.cpp
  LIBS Threads::Threads)
add_dependencies(stream_cli_tests pacterra-cli pacterra-stream-mangle)

# The reassembled stream of a connection: TCP reassembly, its text and raw bytes.
pacterra_unit_test(stream_tests
  SOURCES stream_test.cpp
  LIBS pacterra_stream)

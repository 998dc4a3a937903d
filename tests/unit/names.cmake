# The server-name parsers, and the names of a store's connections.
pacterra_unit_test(server_name_tests
  SOURCES server_name_test.cpp
  LIBS pacterra_analysis pacterra_names)

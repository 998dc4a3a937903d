# The server-name parsers.
pacterra_unit_test(server_name_tests
  SOURCES server_name_test.cpp
  LIBS pacterra_names)

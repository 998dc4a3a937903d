# The rules' port look-ups: matching unchanged, ports kept as typed, a cost that does not grow with them.
pacterra_unit_test(port_lookup_tests
  SOURCES port_lookup_test.cpp
  LIBS pacterra_rules)

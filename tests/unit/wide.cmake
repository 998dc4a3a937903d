# The wider intake (IPv6, VLAN tags, Linux cooked frames) and its decode.
pacterra_unit_test(wide_intake_tests
  SOURCES wide_intake_test.cpp
  LIBS pacterra_capture pacterra_decode)

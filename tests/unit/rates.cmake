# Rate bins at several resolutions and their upkeep from the store.
pacterra_unit_test(rates_tests
  SOURCES rates_test.cpp
  LIBS pacterra_analysis)

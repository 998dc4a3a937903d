# The capture helper's protocol: device names, its adapter list and messages as the callers read them,
# and the rights hint that names it.
pacterra_unit_test(capture_helper_unit_tests
  SOURCES capture_helper_unit_test.cpp
  LIBS pacterra_adapters)

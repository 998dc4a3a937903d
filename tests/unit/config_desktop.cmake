# Config.cfg of an installed program, and configuration files damaged or out of reach.
pacterra_unit_test(config_desktop_test SOURCES config_desktop_test.cpp LIBS pacterra_config Qt6::Core)
# Its own directory: the test puts Config.cfg beside its executable.
set_target_properties(config_desktop_test PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/config-desktop-test-bin)

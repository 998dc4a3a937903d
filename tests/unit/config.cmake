# Filter rules, the configuration record and Config.cfg.
pacterra_unit_test(config_rules_test
  SOURCES filter_item_test.cpp config_record_test.cpp config_alloc_probe.cpp
  LIBS pacterra_rules)

pacterra_unit_test(config_file_test SOURCES config_file_test.cpp LIBS pacterra_config Qt6::Core)
# Its own directory: the test writes Config.cfg beside its executable.
set_target_properties(config_file_test PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/config-file-test-bin)

# The committed res/sample.cap must be exactly what its generator writes today.
add_test(NAME sample_cap_generate
         COMMAND pacterra-gen-sample ${CMAKE_CURRENT_BINARY_DIR}/sample.cap)
add_test(NAME sample_cap_matches_generator
         COMMAND sh -c "cmp \"$0\" \"$1\" || { echo 'res/sample.cap is not what pacterra-gen-sample writes: \
rebuild it with the sample-cap target and commit it'; exit 1; }"
                 ${CMAKE_CURRENT_BINARY_DIR}/sample.cap ${PROJECT_SOURCE_DIR}/res/sample.cap)
set_tests_properties(sample_cap_generate PROPERTIES FIXTURES_SETUP sample_cap LABELS unit)
set_tests_properties(sample_cap_matches_generator PROPERTIES FIXTURES_REQUIRED sample_cap LABELS unit)

# What the program and the other tests rely on finding in the sample.
pacterra_unit_test(sample_cap_tests
  SOURCES sample_cap_test.cpp
  LIBS PkgConfig::PCAP)

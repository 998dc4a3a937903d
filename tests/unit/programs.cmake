# Both programs started as a shell would, with standard descriptors closed or full.
pacterra_unit_test(programs_tests SOURCES programs_test.cpp)
add_dependencies(programs_tests pacterra pacterra-cli)

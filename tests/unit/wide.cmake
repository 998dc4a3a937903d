# The wider intake (IPv6, VLAN tags, Linux cooked frames) and its decode.
pacterra_unit_test(wide_intake_tests
  SOURCES wide_intake_test.cpp
  LIBS pacterra_capture pacterra_decode)
# pacterra-cli --wide against tshark's conversation tables on captures made by the project's generator
# (pacterra-gen-bench-capture --ipv6/--mixed/--ext/--vlan/--link); skipped without tshark.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  file(GLOB PACTERRA_WIDE_CAPTURES ${PROJECT_SOURCE_DIR}/tests/data/wide/*.cap)
  add_test(NAME cli_wide_tshark
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wide_tshark_test.py
                   $<TARGET_FILE:pacterra-cli> ${PACTERRA_WIDE_CAPTURES})
  set_tests_properties(cli_wide_tshark PROPERTIES LABELS unit SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

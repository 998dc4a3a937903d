# The connection filter, Community ID and the exports, over a store filled by the tests.
pacterra_unit_test(analysis_tests
  SOURCES connection_filter_test.cpp community_id_test.cpp export_test.cpp AnalysisStore.h
  LIBS pacterra_analysis)
# pacterra-cli's CSV, JSON Lines, filter and export, judged by Python's csv and json modules.
pacterra_unit_test(cli_export_tests
  SOURCES cli_export_test.cpp
  LIBS pacterra_capture)
add_dependencies(cli_export_tests pacterra-cli)

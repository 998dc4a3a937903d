# The connection filter, Community ID and the exports, over a store filled by the tests.
pacterra_unit_test(analysis_tests
  SOURCES connection_filter_test.cpp community_id_test.cpp export_test.cpp AnalysisStore.h
  LIBS pacterra_analysis)

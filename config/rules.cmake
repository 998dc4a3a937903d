# The rules' port look-ups, built when the configuration loads and before each capture.
target_sources(pacterra_rules PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/PortLookup.cpp)

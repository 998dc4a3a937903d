# The export commands (connections as CSV or JSON Lines, connections' packets as capture files).
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ExportCommands.cpp)
target_link_libraries(pacterra_app PUBLIC pacterra_analysis)

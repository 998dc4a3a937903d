# The main window's layout (size, bars, panes, column widths) kept in the settings store across runs.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/WindowLayout.cpp)

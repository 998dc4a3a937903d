# Lookup of the program's data files.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/DataFiles.cpp)

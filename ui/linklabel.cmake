# The link label of the dialogs, and the opener of the web and help commands.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/LinkLabel.cpp)

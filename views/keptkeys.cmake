# The window's shortcut keys that the hex viewer and the payload text keep while they have the focus.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/KeptKeys.cpp)

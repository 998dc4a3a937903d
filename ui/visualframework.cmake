# The declared tree of tab windows, splitters and views that builds a frame's view area.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/VisualFramework.cpp)

# The fixed-pitch font that the hex viewer and the payload text share.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/FixedFont.cpp)

# The tab window of the view area, and its tab pictures.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/TabWnd.cpp ${CMAKE_CURRENT_SOURCE_DIR}/TabIcons.cpp)

target_sources(pacterra_decode PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HexLines.cpp)
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HexViewCtrl.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/HexView.cpp)

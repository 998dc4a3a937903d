# The payload text view: the highlighting scans (pure) and the text control.
target_sources(pacterra_decode PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/PayloadScan.cpp)
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/PayloadTextCtrl.cpp)

# The store's news as signals, for every view that follows the store.
target_sources(pacterra_views PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/StoreWatcher.cpp)

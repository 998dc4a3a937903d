# The settings store, opened only after its files were found fit to read (QtCore).
target_sources(pacterra_config PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/SettingsStore.cpp)

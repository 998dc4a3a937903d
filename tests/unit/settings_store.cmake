# The settings store is opened in one place, where its files are checked before QSettings reads them.
add_test(NAME settings_opened_in_one_place COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-settings.sh)
set_tests_properties(settings_opened_in_one_place PROPERTIES LABELS unit)

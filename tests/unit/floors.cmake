# Each library includes only the floors below its own.
add_test(NAME floors COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-floors.sh)
set_tests_properties(floors PROPERTIES LABELS unit)

# A second process that shares the settings file with the test, as another server would.
add_executable(suite_settings_tool base/settings_tool.cpp)
target_link_libraries(suite_settings_tool PRIVATE nimbrel_base)
set_target_properties(suite_settings_tool PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
  BUILD_RPATH "${NIMBREL_APP_DIR}")

nimbrel_test(suite_base_tests
  SOURCES
    base/is_cloud_file_test.cpp
    base/settings_singleton_test.cpp
    base/utility_registry_test.cpp
    base/utility_system_test.cpp
    base/winpath_test.cpp
    base/x_file_info_test.cpp
  DEPS nimbrel_base)
target_compile_definitions(suite_base_tests PRIVATE SUITE_SETTINGS_TOOL="$<TARGET_FILE:suite_settings_tool>")
add_dependencies(suite_base_tests suite_settings_tool)

# The Cloud Files stand-in: the calls as a Windows program uses them, the filter, and nimbrel-cf.
add_executable(cf_test_provider cloudfiles/cf_test_provider.cpp)
set_target_properties(cf_test_provider PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(cf_test_provider PRIVATE nimbrel_platform)

nimbrel_test(platform_cloudfiles_tests
  SOURCES
    cloudfiles/cf_test_support.cpp
    cloudfiles/sync_root_test.cpp
    cloudfiles/placeholder_test.cpp
    cloudfiles/creation_time_test.cpp
    cloudfiles/hydration_test.cpp
    cloudfiles/provider_process_test.cpp
    cloudfiles/application_file_test.cpp
  DEPS nimbrel_platform)
target_compile_definitions(platform_cloudfiles_tests PRIVATE
  CF_TEST_PROVIDER="$<TARGET_FILE:cf_test_provider>")
add_dependencies(platform_cloudfiles_tests cf_test_provider nimbrel-cf)

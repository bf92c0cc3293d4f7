nimbrel_test(platform_registry_tests
  SOURCES
    registry/registry_keys_test.cpp
    registry/registry_values_test.cpp
    registry/registry_notify_test.cpp
    registry/nimbrel_reg_test.cpp
  DEPS nimbrel_platform)
# The tool tests run the built nimbrel-reg.
add_dependencies(platform_registry_tests nimbrel-reg)

nimbrel_test(platform_resources_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/resources/winsock_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/resources/win_resource_test.cpp
  DEPS nimbrel_platform)
# The test executable carries resources of its own, exported as a host executable's are.
target_link_options(platform_resources_tests PRIVATE "LINKER:--export-dynamic-symbol=nimbrel_resource_*")

# A library that the module tests load by its Windows name.
add_library(win32probe SHARED ${CMAKE_CURRENT_LIST_DIR}/win32/probe_module.cpp)

nimbrel_test(platform_win32_tests
  SOURCES
    win32/child_role.cpp
    win32/child_roles_test.cpp
    win32/crash_reporter_test.cpp
    win32/error_text_test.cpp
    win32/file_test.cpp
    win32/mapping_test.cpp
    win32/mutex_test.cpp
    win32/process_module_test.cpp
    win32/security_test.cpp
    win32/text_and_com_test.cpp
  DEPS nimbrel_platform)
add_dependencies(platform_win32_tests win32probe)

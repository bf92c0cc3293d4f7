# The IPC module is loaded the way its users load it: dlopen from the application folder.
nimbrel_test(suite_ipcmodule_tests
  SOURCES ipcmodule/ipc_channel_test.cpp
  DEPS nimbrel_platform ${CMAKE_DL_LIBS})
add_dependencies(suite_ipcmodule_tests ipcmodule)

# The suite's HTTP file client against real local HTTP servers (Debian ships cpp-httplib compiled).
find_library(NIMBREL_CPP_HTTPLIB cpp-httplib REQUIRED)
nimbrel_test(suite_http_tests
  SOURCES http/file_http_test.cpp http/proxy_settings_test.cpp
  DEPS nimbrel_base ${NIMBREL_CPP_HTTPLIB})

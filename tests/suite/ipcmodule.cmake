# The IPC module is loaded the way its users load it: dlopen from the application folder.
nimbrel_test(suite_ipcmodule_tests
  SOURCES ipcmodule/ipc_channel_test.cpp
  DEPS nimbrel_platform ${CMAKE_DL_LIBS})
add_dependencies(suite_ipcmodule_tests ipcmodule)

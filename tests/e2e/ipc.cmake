# The IPC channel between a server and nimbrel-mainclient, both run as separate processes.
nimbrel_test(e2e_ipc_tests
  SOURCES e2e_processes.cpp ipc_session.cpp ipc_requests_test.cpp ipc_liveness_test.cpp keep_device_test.cpp
  DEPS nimbrel_platform Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-cf RoziDavidoVodido ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_ipc_tests ${target})
  endif()
endforeach()
# Dozens of client processes at once keep both cores busy: that test runs alone, so that the
# tests beside it are not starved into their time-outs.
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_LIST_DIR}/ipc_serial_tests.ctest)

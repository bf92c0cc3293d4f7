# The reference cloud pushed into a mounted folder through a running server, looked at with
# find/stat and nimbrel-cf as a user would.
nimbrel_test(e2e_projection_tests
  SOURCES e2e_processes.cpp ipc_session.cpp cloud_projection_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-cf nimbrel-reg RoziDavidoVodido ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_projection_tests ${target})
  endif()
endforeach()

# Opening placeholders of the reference cloud through a running server, as a user would with
# nimbrel-cf, including a content server that fails and a server killed mid-download.
nimbrel_test(e2e_hydration_tests
  SOURCES e2e_processes.cpp ipc_session.cpp cloud_hydration_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-cf nimbrel-shell RoziDavidoVodido)
  if(TARGET ${target})
    add_dependencies(e2e_hydration_tests ${target})
  endif()
endforeach()

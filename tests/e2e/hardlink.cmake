# Hard-linked files pushed into a mounted root, repaired by a running server as the client sees it.
nimbrel_test(e2e_hardlink_tests
  SOURCES e2e_processes.cpp ipc_session.cpp hard_link_repair_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-cf RoziDavidoVodido ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_hardlink_tests ${target})
  endif()
endforeach()

# A server fed what a careless or hostile local program could send it.
nimbrel_test(e2e_hardening_tests
  SOURCES e2e_processes.cpp ipc_session.cpp hardening_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient RoziDavidoVodido ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_hardening_tests ${target})
  endif()
endforeach()

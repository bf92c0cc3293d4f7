# The context menu end to end: the reference cloud, a server, nimbrel-menu, nimbrel-cf and
# nimbrel-shell, each its own process.
nimbrel_test(e2e_menu_tests
  SOURCES e2e_processes.cpp ipc_session.cpp context_menu_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-menu nimbrel-cf nimbrel-cfd nimbrel-shell RoziDavidoVodido
        ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_menu_tests ${target})
  endif()
endforeach()

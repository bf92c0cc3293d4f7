# The navigation-pane folder as a user checks it: registry state set with nimbrel-reg, the
# server's log, and what Explorer was told, read with nimbrel-shell.
nimbrel_test(e2e_shell_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/e2e_processes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ipc_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_folder_test.cpp
  DEPS Qt5::Core)
add_dependencies(e2e_shell_tests nimbrel RoziDavidoVodido nimbrel-mainclient nimbrel-reg nimbrel-shell ipcmodule)

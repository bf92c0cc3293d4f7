# The context-menu socket server as the Explorer extension meets it, through nimbrel-menu.
nimbrel_test(e2e_socket_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/e2e_processes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ipc_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/socket_server_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/socket_menu_test.cpp
  DEPS nimbrel_platform)
add_dependencies(e2e_socket_tests nimbrel ZedoziZevoro RoziDavidoVodido nimbrel-menu nimbrel-mainclient ipcmodule)
# The same openssl that made the certificate checks what the server extracted.
target_compile_definitions(e2e_socket_tests PRIVATE NIMBREL_OPENSSL="${NIMBREL_OPENSSL}")

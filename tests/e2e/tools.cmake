# The command-line tools' help, usage errors and exit codes, run as a user runs them.
nimbrel_test(e2e_tool_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tool_command_line_test.cpp
  DEPS Qt5::Core)
add_dependencies(e2e_tool_tests nimbrel-cf nimbrel-reg nimbrel-shell nimbrel-cfd nimbrel-mainclient nimbrel-menu)

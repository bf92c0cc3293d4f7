# The "uninstall" command of the servers, run as a user would.
nimbrel_test(e2e_uninstall_tests
  SOURCES e2e_processes.cpp uninstall_test.cpp
  DEPS nimbrel_base nimbrel_platform Qt5::Core)
add_dependencies(e2e_uninstall_tests nimbrel RoziDavidoVodido)

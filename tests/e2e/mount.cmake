# Mounting and unmounting through a running sync-disk server, checked with nimbrel-cf and nimbrel-reg.
nimbrel_test(e2e_mount_tests
  SOURCES e2e_processes.cpp ipc_session.cpp mount_mirror_test.cpp
  DEPS Qt5::Core)
foreach(target nimbrel ipcmodule nimbrel-mainclient nimbrel-cf nimbrel-reg RoziDavidoVodido ZedoziZevoro)
  if(TARGET ${target})
    add_dependencies(e2e_mount_tests ${target})
  endif()
endforeach()

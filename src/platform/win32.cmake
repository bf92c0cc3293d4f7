# The Win32 subset: files, modules, mutexes, processes, COM, code pages, security descriptors,
# file mappings and the crash reporter.
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/crash_reporter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_attribute_hooks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_com.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_errno.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_error_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_file_attributes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_file_ops.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_file_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_filetime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_find.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_mapping.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_mutex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_security.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_wait.cpp)

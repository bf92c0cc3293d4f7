# The Win32 subset: files, modules, mutexes, processes, COM, code pages, security descriptors,
# file mappings and the crash reporter.
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_attribute_hooks.cpp)

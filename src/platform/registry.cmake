target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/registry_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_enum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_event.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_key.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_notifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_notify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_values.cpp)

# The Cloud Files stand-in: store, sync roots, placeholders, filter core and port.
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/cf_application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_attributes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_callback_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_dehydrate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_filter_core.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_filter_port.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_oplock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_pin_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_placeholders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_sync_root.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_transfer.cpp)

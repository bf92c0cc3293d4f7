# Named local channels between processes (Unix stream sockets in the runtime folder).
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/local_channel_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/local_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/local_listener.cpp)

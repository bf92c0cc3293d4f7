# Winsock and the host executable's resources.
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/winsock_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win_resource.cpp)

# The HTTP file client and the proxy it uses.
target_sources(nimbrel_base PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_http.cpp
  ${CMAKE_CURRENT_LIST_DIR}/proxy_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/proxy_wrapper.cpp)
target_link_libraries(nimbrel_base PRIVATE CURL::libcurl)

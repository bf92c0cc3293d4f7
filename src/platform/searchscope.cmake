# Windows Search crawl scope (search manager, catalog, crawl-scope manager) and the user-token
# queries the shell integration needs.
target_sources(nimbrel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/search_scope_com.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_scope_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win32_token.cpp)

nimbrel_test(platform_localchannel_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/localchannel/local_channel_test.cpp
  DEPS nimbrel_platform)

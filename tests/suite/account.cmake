nimbrel_test(suite_account_tests
  SOURCES account/account_common_test.cpp
  DEPS nimbrel_account nimbrel_base)

# scripts/chaos.sh against this build: five rounds, so that a server is killed once in the midst of
# each kind of work and every invariant is checked after each restart. It starts a client, servers
# and the filter service and hydrates the whole small tree every round, so it gets a time-out of its
# own.
option(NIMBREL_CHAOS_SMOKE "Run five rounds of scripts/chaos.sh with the tests" ON)
if(NIMBREL_CHAOS_SMOKE)
  add_test(NAME chaos_campaign COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/chaos.sh 5)
  set_tests_properties(chaos_campaign PROPERTIES TIMEOUT 300 ENVIRONMENT NIMBREL_BUILD_DIR=${CMAKE_BINARY_DIR})
endif()

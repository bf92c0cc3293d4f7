# scripts/demo.sh --check against this build: the tour a newcomer takes, unattended, so the demo
# cannot rot. It brings up a client, a server and the filter service and hydrates 20 MiB, so it
# gets a time-out of its own.
add_test(NAME demo_check
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/demo.sh --check --build ${CMAKE_BINARY_DIR}
    --state ${CMAKE_BINARY_DIR}/demo-check --mount ${CMAKE_BINARY_DIR}/demo-check-mount)
set_tests_properties(demo_check PROPERTIES TIMEOUT 300)

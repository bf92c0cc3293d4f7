# Helpers that keep each subsystem's CMakeLists short and alike.
include(GoogleTest)

# nimbrel_library(NAME [SHARED|STATIC] SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Headers are included by their path below src/, e.g. #include "platform/windows.h".
function(nimbrel_library name)
  cmake_parse_arguments(ARG "STATIC" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  if(ARG_STATIC)
    add_library(${name} STATIC ${ARG_SOURCES})
  else()
    add_library(${name} SHARED ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# nimbrel_test(NAME SOURCES ... DEPS ...)
# One GoogleTest executable per subsystem; every test case runs in its own process with fresh
# NIMBREL_PLATFORM_HOME and NIMBREL_RUNTIME_DIR (see tests/support/test_main.cpp).
function(nimbrel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    BUILD_RPATH "${NIMBREL_APP_DIR}")
  target_link_libraries(${name} PRIVATE nimbrel_test_support ${ARG_DEPS})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "NIMBREL_APP_DIR=${NIMBREL_APP_DIR}")
endfunction()

# nimbrel_component(NAME SOURCES ... [DEPS ...])
# A part of Nimbrel itself: a static, position-independent library with hidden symbols, linked
# whole into libnimbrel.so, whose only export is NimbrelEntry.
function(nimbrel_component name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Helpers that keep each subsystem's CMakeLists short and alike.
include(GoogleTest)

# Nimbrel's headers are included by their path below src/ ("ipc/ipc_text.h"), but src/platform
# must not be reachable that way: its subsystems' own headers are private, and the Windows-named
# headers come from the platform library's include folders. So the include root is a folder of
# links to every top-level folder of src/ but platform.
set(NIMBREL_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include-root)
file(MAKE_DIRECTORY ${NIMBREL_INCLUDE_ROOT})
file(GLOB nimbrel_src_folders LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/*)
foreach(folder IN LISTS nimbrel_src_folders)
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/src/${folder} AND NOT folder STREQUAL "platform")
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${NIMBREL_INCLUDE_ROOT}/${folder} SYMBOLIC)
  endif()
endforeach()

# nimbrel_platform_internals(TARGET PART...)
# Lets the stand-in's own tools and tests include the private headers of the named platform parts
# by their bare names ("cf_store.h").
function(nimbrel_platform_internals target)
  foreach(part IN LISTS ARGN)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/${part})
  endforeach()
endfunction()

# nimbrel_library(NAME [SHARED|STATIC] SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Headers are included by their path below src/, e.g. #include "ipc/ipc_text.h".
function(nimbrel_library name)
  cmake_parse_arguments(ARG "STATIC" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  if(ARG_STATIC)
    add_library(${name} STATIC ${ARG_SOURCES})
  else()
    add_library(${name} SHARED ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${NIMBREL_INCLUDE_ROOT})
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
    PROPERTIES TIMEOUT 120 ENVIRONMENT "NIMBREL_APP_DIR=${NIMBREL_APP_DIR}" LABELS ${name})
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
  target_include_directories(${name} PUBLIC ${NIMBREL_INCLUDE_ROOT})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

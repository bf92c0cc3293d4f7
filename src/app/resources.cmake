# The host executables carry the socket server's certificate and key as "DATA" resources 102 and
# 103: a self-signed certificate for 127.0.0.1 and its private key, made by OpenSSL at build time
# and linked in as data that the resource functions find by symbol.
#
# Run as a script (cmake -P) this file turns the two PEM files into that C++ source.
if(CMAKE_SCRIPT_MODE_FILE)
  function(resource_entry out_var id path)
    file(READ ${path} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(${out_var} "const unsigned char kResource${id}[] = {${bytes}};
extern \"C\" const NimbrelResourceEntry nimbrel_resource_DATA_${id} = {kResource${id}, ${size}};
" PARENT_SCOPE)
  endfunction()
  resource_entry(certificate 102 ${CERTIFICATE})
  resource_entry(key 103 ${KEY})
  file(WRITE ${OUTPUT} "// Generated at build time from server.crt and server.key; do not edit.
#include \"platform/win_resource.h\"

extern \"C\" const char nimbrel_resource_type_DATA = 0;
${certificate}${key}")
  return()
endif()

find_program(NIMBREL_OPENSSL openssl REQUIRED)
set(NIMBREL_RESOURCE_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources)
add_custom_command(
  OUTPUT ${NIMBREL_RESOURCE_DIR}/server.crt ${NIMBREL_RESOURCE_DIR}/server.key
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NIMBREL_RESOURCE_DIR}
  COMMAND ${NIMBREL_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj /CN=127.0.0.1
          -keyout ${NIMBREL_RESOURCE_DIR}/server.key -out ${NIMBREL_RESOURCE_DIR}/server.crt
  COMMENT "Generating the socket server's self-signed certificate"
  VERBATIM)
add_custom_command(
  OUTPUT ${NIMBREL_RESOURCE_DIR}/host_resources.cpp
  COMMAND ${CMAKE_COMMAND} -DCERTIFICATE=${NIMBREL_RESOURCE_DIR}/server.crt -DKEY=${NIMBREL_RESOURCE_DIR}/server.key
          -DOUTPUT=${NIMBREL_RESOURCE_DIR}/host_resources.cpp -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${NIMBREL_RESOURCE_DIR}/server.crt ${NIMBREL_RESOURCE_DIR}/server.key ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)

foreach(host_executable ZedoziZevoro RoziDavidoVodido)
  target_sources(${host_executable} PRIVATE ${NIMBREL_RESOURCE_DIR}/host_resources.cpp)
  target_link_options(${host_executable} PRIVATE "LINKER:--export-dynamic-symbol=nimbrel_resource_*")
endforeach()

# The installer web service of the tests (scripts/installer-service.py), included from
# tests/CMakeLists.txt after the test programs.
#
# installer_service: a throwaway certificate authority and a "localhost" certificate made in the
# build tree, the authority trusted by the test Wine prefix's "Root" store (trust-ca.cpp), and the
# service on 127.0.0.1 at the port the stub is built for, until the last test that needs it is done
# or an hour has passed. Tests find its files through HALVERN_INSTALLER_SERVICE (service.txt).
if(DEFINED HALVERN_SERVICE_PORT)
  set(HALVERN_INSTALLER_SERVICE_PORT ${HALVERN_SERVICE_PORT})
elseif(DEFINED ENV{HALVERN_SERVICE_PORT})
  set(HALVERN_INSTALLER_SERVICE_PORT $ENV{HALVERN_SERVICE_PORT})
else()
  set(HALVERN_INSTALLER_SERVICE_PORT 28443)
endif()

add_executable(trust_ca support/trust-ca.cpp)
set_target_properties(trust_ca PROPERTIES OUTPUT_NAME trust-ca)
target_link_options(trust_ca PRIVATE -municode)
target_link_libraries(trust_ca PRIVATE shell32 crypt32 winhttp)

set(HALVERN_INSTALLER_SERVICE ${CMAKE_BINARY_DIR}/installer-service)
set(HALVERN_INSTALLER_SERVICE_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/installer-service.py)
string(REPLACE "/" "\\" HALVERN_INSTALLER_SERVICE_CA "Z:${HALVERN_INSTALLER_SERVICE}/tls/ca.der")

# A port that another program holds fails this test with the service's message, not the suite.
add_test(NAME installer_service_start
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_INSTALLER_SERVICE_SCRIPT} start ${HALVERN_INSTALLER_SERVICE}
          --port ${HALVERN_INSTALLER_SERVICE_PORT} --lifetime 3600)
add_test(NAME installer_service_trust COMMAND trust_ca add ${HALVERN_INSTALLER_SERVICE_CA})
set_tests_properties(installer_service_start PROPERTIES FIXTURES_SETUP installer_service)
set_tests_properties(installer_service_trust PROPERTIES
  FIXTURES_SETUP installer_service
  FIXTURES_REQUIRED wine
  DEPENDS installer_service_start
  ENVIRONMENT "${HALVERN_TEST_ENV}")
add_test(NAME installer_service_stop
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_INSTALLER_SERVICE_SCRIPT} stop ${HALVERN_INSTALLER_SERVICE})
set_tests_properties(installer_service_stop PROPERTIES FIXTURES_CLEANUP installer_service)
set(HALVERN_INSTALLER_SERVICE_ENV "HALVERN_INSTALLER_SERVICE=${HALVERN_INSTALLER_SERVICE}/service.txt")

# WinHTTP in the prefix trusts the service before any client of the stub depends on it.
add_test(NAME installer_service_winhttp
  COMMAND trust_ca get https://localhost:${HALVERN_INSTALLER_SERVICE_PORT}/)
set_tests_properties(installer_service_winhttp PROPERTIES
  FIXTURES_REQUIRED "wine;installer_service"
  ENVIRONMENT "${HALVERN_TEST_ENV}"
  PASS_REGULAR_EXPRESSION "^status 200")

# The service itself over HTTPS with curl, on an instance and port of its own.
add_test(NAME installer_service_endpoints
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/scripts/installer-service.py ${HALVERN_INSTALLER_SERVICE_SCRIPT})

# Its clients; they rewrite the answers file, so they take turns.
foreach(client analytics_tests script_setup_download_tokenized)
  if(TEST ${client})
    set_property(TEST ${client} APPEND PROPERTY FIXTURES_REQUIRED installer_service)
    set_property(TEST ${client} APPEND PROPERTY ENVIRONMENT "${HALVERN_INSTALLER_SERVICE_ENV}")
    set_property(TEST ${client} APPEND PROPERTY RESOURCE_LOCK installer_service_answers)
  endif()
endforeach()

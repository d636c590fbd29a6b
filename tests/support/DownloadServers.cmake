# The HTTP servers of the download tests (scripts/test-servers.sh): nginx and the fault server on
# loopback ports picked at test time, started before the tests that need them and stopped after
# the last one, or by themselves after an hour. A test program reaches them through the file that
# HALVERN_TEST_SERVERS names.
set(HALVERN_DOWNLOAD_SERVERS ${CMAKE_BINARY_DIR}/download-servers)
add_test(NAME downloader_servers_start
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/test-servers.sh start ${HALVERN_DOWNLOAD_SERVERS} 3600)
set_tests_properties(downloader_servers_start PROPERTIES FIXTURES_SETUP download_servers)
add_test(NAME downloader_servers_stop
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/test-servers.sh stop ${HALVERN_DOWNLOAD_SERVERS})
set_tests_properties(downloader_servers_stop PROPERTIES FIXTURES_CLEANUP download_servers)
set(HALVERN_DOWNLOAD_SERVERS_ENV "HALVERN_TEST_SERVERS=${HALVERN_DOWNLOAD_SERVERS}/servers.txt")

if(TEST downloader_tests)
  set_tests_properties(downloader_tests PROPERTIES FIXTURES_REQUIRED "wine;download_servers")
  set_property(TEST downloader_tests APPEND PROPERTY ENVIRONMENT "${HALVERN_DOWNLOAD_SERVERS_ENV}")
endif()

# The self-update cycle of the relaunch tests fetches its new stub from nginx.
if(TEST product_tests)
  set_property(TEST product_tests APPEND PROPERTY FIXTURES_REQUIRED download_servers)
  set_property(TEST product_tests APPEND PROPERTY ENVIRONMENT "${HALVERN_DOWNLOAD_SERVERS_ENV}")
endif()

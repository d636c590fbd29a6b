# Fixtures of the registry, file and path method tests, included from tests/CMakeLists.txt after
# the test programs.
#
# method_fixtures: files made at test time on the Linux side (method-fixtures.py): a sparse 5 GiB
# file, an installer package built by wixl, signed copies of script_host.exe and of two tiny
# programs with texts after their first certificate, and the built stub and the bootstrapper
# stand-ins signed by two publishers of a throwaway authority, some with a package planted after
# their certificate. methods_tests finds them through HALVERN_METHOD_FIXTURES (Wine's Z: form);
# the clean-up removes the sparse file.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(HALVERN_METHOD_FIXTURES ${CMAKE_BINARY_DIR}/method-fixtures)
string(REPLACE "/" "\\" HALVERN_METHOD_FIXTURES_WINDOWS "Z:${HALVERN_METHOD_FIXTURES}")
set(HALVERN_METHOD_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/support/method-fixtures.py)

add_test(NAME methods_fixtures_setup
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_METHOD_SCRIPT} make ${HALVERN_METHOD_FIXTURES}
          $<TARGET_FILE:script_host> ${CMAKE_CURRENT_SOURCE_DIR}/support/version-probe.wxs
          $<TARGET_FILE:HalvernSetup>)
set_tests_properties(methods_fixtures_setup PROPERTIES FIXTURES_SETUP method_fixtures)
add_test(NAME methods_fixtures_cleanup
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_METHOD_SCRIPT} clean ${HALVERN_METHOD_FIXTURES})
set_tests_properties(methods_fixtures_cleanup PROPERTIES FIXTURES_CLEANUP method_fixtures)

set_property(TEST methods_tests APPEND PROPERTY FIXTURES_REQUIRED method_fixtures)
set_property(TEST methods_tests APPEND PROPERTY ENVIRONMENT
  "HALVERN_METHOD_FIXTURES=${HALVERN_METHOD_FIXTURES_WINDOWS}")

# The product layer's tests install the product-*.msi packages, trust the bootstrapper's
# certificate authority and fetch the bootstrapper stand-ins from the fault server.
add_test(NAME product_bootstrapper_trust COMMAND trust_ca add ${HALVERN_METHOD_FIXTURES_WINDOWS}\\bootstrapper-ca.der)
set_tests_properties(product_bootstrapper_trust PROPERTIES
  FIXTURES_SETUP bootstrapper_trust
  FIXTURES_REQUIRED "wine;method_fixtures"
  DEPENDS methods_fixtures_setup
  ENVIRONMENT "${HALVERN_TEST_ENV}")
set_property(TEST product_tests APPEND PROPERTY FIXTURES_REQUIRED "method_fixtures;download_servers;bootstrapper_trust")
set_property(TEST product_tests APPEND PROPERTY ENVIRONMENT
  "HALVERN_METHOD_FIXTURES=${HALVERN_METHOD_FIXTURES_WINDOWS}" "${HALVERN_DOWNLOAD_SERVERS_ENV}")

# Fixtures of the install worker's tests, included from tests/CMakeLists.txt after the test
# programs and the script scenarios.
#
# install_fixtures: the test installer program (install-probe.cpp, built here with the same
# toolchain) and what install-fixtures.py makes from it and from the install-*.wxs packages at
# test time. setup_tests and the install scenarios find them through HALVERN_INSTALL_FIXTURES
# (Wine's Z: form, with a trailing backslash).
add_executable(install_probe support/install-probe.cpp)
target_link_options(install_probe PRIVATE -municode)
target_link_libraries(install_probe PRIVATE shell32)

set(HALVERN_INSTALL_FIXTURES ${CMAKE_BINARY_DIR}/install-fixtures)
string(REPLACE "/" "\\" HALVERN_INSTALL_FIXTURES_WINDOWS "Z:${HALVERN_INSTALL_FIXTURES}/")
file(GLOB HALVERN_INSTALL_WXS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/install-*.wxs)

add_test(NAME install_fixtures_setup
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/support/install-fixtures.py
          ${HALVERN_INSTALL_FIXTURES} $<TARGET_FILE:install_probe> ${HALVERN_INSTALL_WXS})
set_tests_properties(install_fixtures_setup PROPERTIES FIXTURES_SETUP install_fixtures)

file(GLOB HALVERN_INSTALL_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/setup/scripts/install_*.js
     ${CMAKE_CURRENT_SOURCE_DIR}/setup/scripts/resume_*.js)
set(HALVERN_INSTALL_TESTS setup_tests)
foreach(script ${HALVERN_INSTALL_SCENARIOS})
  get_filename_component(scriptName ${script} NAME_WE)
  list(APPEND HALVERN_INSTALL_TESTS script_setup_${scriptName})
  # Every install writes the product's one "\ResumeManager" record: one scenario at a time.
  set_property(TEST script_setup_${scriptName} APPEND PROPERTY RESOURCE_LOCK resume_manager_record)
endforeach()
foreach(test ${HALVERN_INSTALL_TESTS})
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED install_fixtures)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "HALVERN_INSTALL_FIXTURES=${HALVERN_INSTALL_FIXTURES_WINDOWS}")
endforeach()
add_dependencies(setup_tests install_probe)

# The launch scenarios start the test installer program and read and clear the resume record;
# the launch tests plant it where a program could be looked for.
file(GLOB HALVERN_LAUNCH_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/methods/scripts/launch_*.js)
foreach(script ${HALVERN_LAUNCH_SCENARIOS})
  get_filename_component(scriptName ${script} NAME_WE)
  set_property(TEST script_methods_${scriptName} APPEND PROPERTY FIXTURES_REQUIRED install_fixtures)
  set_property(TEST script_methods_${scriptName} APPEND PROPERTY RESOURCE_LOCK resume_manager_record)
endforeach()
add_dependencies(methods_tests install_probe)

# Fixtures of the ZIP tests, included from tests/CMakeLists.txt after the test programs.
#
# zip_fixtures: archives made at test time with Python's zipfile, the zip tool and osslsigncode
# (signed copies of the built stub), read by the Windows tests through Wine's Z: drive. A check
# on the Linux side reads back the archives core_tests wrote.
# small_volume: a nearly full 1 MiB tmpfs mapped as drive K: of the test prefix, for the
# disk-full cases, which core_tests_small_volume runs. Where it cannot be mounted, its set-up
# fails and so does that test: a disk-full path nobody ran is not a pass.
# package_ui_names: which page file names scripts/package-ui.py packs and which it refuses.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(HALVERN_ZIP_FIXTURES ${CMAKE_BINARY_DIR}/zip-fixtures)
string(REPLACE "/" "\\" HALVERN_ZIP_FIXTURES_WINDOWS "Z:${HALVERN_ZIP_FIXTURES}")
set(HALVERN_ZIP_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/support/zip-fixtures.py)

add_test(NAME zip_fixtures_setup
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_ZIP_SCRIPT} make ${HALVERN_ZIP_FIXTURES}
          ${CMAKE_BINARY_DIR}/bin/HalvernSetup.exe)
set_tests_properties(zip_fixtures_setup PROPERTIES FIXTURES_SETUP zip_fixtures)

add_test(NAME core_written_zip_check
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_ZIP_SCRIPT} check ${HALVERN_ZIP_FIXTURES})
set_tests_properties(core_written_zip_check PROPERTIES
  DEPENDS core_tests FIXTURES_REQUIRED zip_fixtures)

# The packager of ui-package/ takes only file names that reach the stub unchanged.
add_test(NAME package_ui_names
  COMMAND ${Python3_EXECUTABLE} ${HALVERN_ZIP_SCRIPT} package-ui ${CMAKE_SOURCE_DIR}/scripts/package-ui.py)

set(HALVERN_SMALL_VOLUME_ARGS ${CMAKE_BINARY_DIR}/small-volume ${HALVERN_WINEPREFIX} k)
add_test(NAME small_volume_setup
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/small-volume.sh setup ${HALVERN_SMALL_VOLUME_ARGS})
set_tests_properties(small_volume_setup PROPERTIES FIXTURES_SETUP small_volume FIXTURES_REQUIRED wine)
add_test(NAME small_volume_cleanup
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/small-volume.sh cleanup ${HALVERN_SMALL_VOLUME_ARGS})
set_tests_properties(small_volume_cleanup PROPERTIES FIXTURES_CLEANUP small_volume)

foreach(program core_tests product_tests)
  set_property(TEST ${program} APPEND PROPERTY FIXTURES_REQUIRED zip_fixtures)
  set_property(TEST ${program} APPEND PROPERTY ENVIRONMENT
    "HALVERN_ZIP_FIXTURES=${HALVERN_ZIP_FIXTURES_WINDOWS}")
endforeach()
add_test(NAME core_tests_small_volume COMMAND core_tests --gtest_color=no --gtest_filter=*SmallVolume* run=1)
set_tests_properties(core_tests_small_volume PROPERTIES
  FIXTURES_REQUIRED "wine;zip_fixtures;small_volume"
  ENVIRONMENT "${HALVERN_TEST_ENV};HALVERN_ZIP_FIXTURES=${HALVERN_ZIP_FIXTURES_WINDOWS}"
  RESOURCE_LOCK stub_instance
  TIMEOUT 600)

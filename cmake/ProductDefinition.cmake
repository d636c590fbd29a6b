# Reads product/product.ini, the one place where a publisher sets its product, for the profile of
# this build (HALVERN_PROFILE: "release", what a plain configure gives, or "local", the tests' and
# the main command's) and makes it the build's constants: HALVERN_PRODUCT_* and HALVERN_* below,
# the generated header ProductDefinition.h that the sources include, and the version resource and
# manifest of the executables.

set(HALVERN_PROFILE release CACHE STRING "Profile of product/product.ini to build: release or local")
set_property(CACHE HALVERN_PROFILE PROPERTY STRINGS release local)
if(NOT HALVERN_PROFILE MATCHES "^(release|local)$")
  message(FATAL_ERROR "HALVERN_PROFILE must be release or local, not '${HALVERN_PROFILE}'")
endif()
# The loopback ports of the local profile, and publishers that replace the profile's (a test
# release pins the tests' publisher this way).
set(HALVERN_SERVICE_PORT 28443 CACHE STRING "Port of the local installer web service (local profile)")
set(HALVERN_SAMPLE_PORT 28080 CACHE STRING "Port of the local sample server (local profile)")
set(HALVERN_PUBLISHERS "" CACHE STRING "Publishers to pin instead of the profile's (hashes or PEM files)")

set(HALVERN_DEFINITION_FILE ${CMAKE_SOURCE_DIR}/product/product.ini)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${HALVERN_DEFINITION_FILE})

# Every "key = value" of the [product] section and of the profile's section, as
# HALVERN_DEF_<KEY>; the values are taken literally.
file(STRINGS ${HALVERN_DEFINITION_FILE} halvern_lines)
set(halvern_section "")
foreach(halvern_line IN LISTS halvern_lines)
  if(halvern_line MATCHES "^[ \t]*#" OR halvern_line MATCHES "^[ \t]*$")
    continue()
  elseif(halvern_line MATCHES "^\\[([a-z]+)\\]$")
    set(halvern_section ${CMAKE_MATCH_1})
  elseif(halvern_line MATCHES "^([a-z_]+)[ \t]*=[ \t]*(.*)$")
    if(halvern_section STREQUAL "product" OR halvern_section STREQUAL HALVERN_PROFILE)
      string(TOUPPER "${CMAKE_MATCH_1}" halvern_key)
      set(HALVERN_DEF_${halvern_key} "${CMAKE_MATCH_2}")
    endif()
  else()
    message(FATAL_ERROR "product/product.ini: cannot read the line '${halvern_line}'")
  endif()
endforeach()
if(NOT DEFINED HALVERN_DEF_PASSTHROUGH_PROPERTIES)
  set(HALVERN_DEF_PASSTHROUGH_PROPERTIES "")
endif()
foreach(halvern_key CODE VERSION CHANNEL UPGRADE_CODES SERVICE_HOST SERVICE_PORT DOWNLOAD_URL THANKYOU_URL ALLOW_HTTP)
  if(NOT DEFINED HALVERN_DEF_${halvern_key} OR HALVERN_DEF_${halvern_key} STREQUAL "")
    string(TOLOWER ${halvern_key} halvern_name)
    message(FATAL_ERROR "product/product.ini: no ${halvern_name} for the ${HALVERN_PROFILE} profile")
  endif()
endforeach()

set(HALVERN_PRODUCT_CODE "${HALVERN_DEF_CODE}")
set(HALVERN_PRODUCT_VERSION "${HALVERN_DEF_VERSION}")
if(NOT HALVERN_PRODUCT_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "product/product.ini: the version must be four numbers, not '${HALVERN_PRODUCT_VERSION}'")
endif()
set(HALVERN_VERSION_COMMAS "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}")
# The profile's endpoints; the local profile's name the build's ports.
foreach(halvern_key SERVICE_HOST SERVICE_PORT DOWNLOAD_URL THANKYOU_URL)
  string(REPLACE "@SERVICE_PORT@" "${HALVERN_SERVICE_PORT}" halvern_value "${HALVERN_DEF_${halvern_key}}")
  string(REPLACE "@SAMPLE_PORT@" "${HALVERN_SAMPLE_PORT}" halvern_value "${halvern_value}")
  set(HALVERN_PROFILE_${halvern_key} "${halvern_value}")
endforeach()
if(NOT HALVERN_PROFILE_SERVICE_PORT MATCHES "^[0-9]+$" OR HALVERN_PROFILE_SERVICE_PORT GREATER 65535)
  message(FATAL_ERROR "the web service port '${HALVERN_PROFILE_SERVICE_PORT}' is no port number")
endif()
string(TOLOWER "${HALVERN_DEF_ALLOW_HTTP}" HALVERN_ALLOW_HTTP)
if(NOT HALVERN_ALLOW_HTTP MATCHES "^(yes|no)$")
  message(FATAL_ERROR "product/product.ini: allow_http is yes or no")
endif()

# Publishers: a key hash as written, or the SHA-256 of a certificate file's public key.
set(halvern_publishers "${HALVERN_DEF_PUBLISHERS}")
if(NOT HALVERN_PUBLISHERS STREQUAL "")
  set(halvern_publishers "${HALVERN_PUBLISHERS}")
endif()
separate_arguments(halvern_publishers UNIX_COMMAND "${halvern_publishers}")
set(HALVERN_PUBLISHER_HASHES "")
foreach(halvern_publisher IN LISTS halvern_publishers)
  string(TOLOWER "${halvern_publisher}" halvern_hash)
  string(LENGTH "${halvern_hash}" halvern_length)
  if(NOT halvern_hash MATCHES "^[0-9a-f]+$" OR NOT halvern_length EQUAL 64)
    if(NOT IS_ABSOLUTE "${halvern_publisher}")
      set(halvern_publisher "${CMAKE_SOURCE_DIR}/${halvern_publisher}")
    endif()
    if(NOT EXISTS "${halvern_publisher}")
      message(FATAL_ERROR "publisher '${halvern_publisher}' is neither a key hash nor a certificate file")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${halvern_publisher}")
    execute_process(
      COMMAND sh -c "openssl x509 -in \"$0\" -noout -pubkey | openssl pkey -pubin -outform der | sha256sum"
              "${halvern_publisher}"
      OUTPUT_VARIABLE halvern_hash RESULT_VARIABLE halvern_status)
    string(REGEX MATCH "^[0-9a-f]+" halvern_hash "${halvern_hash}")
    string(LENGTH "${halvern_hash}" halvern_length)
    if(NOT halvern_status EQUAL 0 OR NOT halvern_length EQUAL 64)
      message(FATAL_ERROR "cannot hash the public key of the certificate ${halvern_publisher}")
    endif()
  endif()
  list(APPEND HALVERN_PUBLISHER_HASHES ${halvern_hash})
endforeach()
if(HALVERN_PROFILE STREQUAL "release" AND NOT HALVERN_PUBLISHER_HASHES)
  message(FATAL_ERROR "the release profile pins no publisher: name its code-signing certificate in the "
                      "[release] publishers of product/product.ini, or configure with -DHALVERN_PUBLISHERS=...")
endif()

# The header of the sources.
set(halvern_upgrade_codes "")
separate_arguments(halvern_codes UNIX_COMMAND "${HALVERN_DEF_UPGRADE_CODES}")
foreach(halvern_code IN LISTS halvern_codes)
  string(APPEND halvern_upgrade_codes "L\"${halvern_code}\", ")
endforeach()
set(halvern_passthrough "")
separate_arguments(halvern_names UNIX_COMMAND "${HALVERN_DEF_PASSTHROUGH_PROPERTIES}")
foreach(halvern_name IN LISTS halvern_names)
  if(NOT halvern_name MATCHES "^[A-Z][A-Z0-9_.]*$" OR halvern_name MATCHES "^(TRANSFORMS|PATCH|PATCHNEWPACKAGE|MSIPATCHREMOVE|PATCHNEWSUMMARYSUBJECT|ACTION|ADDLOCAL|ADDSOURCE|ADVERTISE|COMPANYNAME|SOURCELIST|TARGETDIR|ROOTDRIVE|INSTALLDIR)$")
    message(FATAL_ERROR "product/product.ini: '${halvern_name}' is no public property the installers may be handed")
  endif()
  string(APPEND halvern_passthrough "L\"${halvern_name}\", ")
endforeach()
list(LENGTH halvern_names halvern_passthrough_count)
set(halvern_pins "")
foreach(halvern_hash IN LISTS HALVERN_PUBLISHER_HASHES)
  string(APPEND halvern_pins "\"${halvern_hash}\", ")
endforeach()
list(JOIN HALVERN_PUBLISHER_HASHES "," halvern_pin_text)
list(LENGTH HALVERN_PUBLISHER_HASHES halvern_pin_count)
if(HALVERN_ALLOW_HTTP STREQUAL "yes")
  set(halvern_allow_http true)
else()
  set(halvern_allow_http false)
endif()
set(HALVERN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${HALVERN_GENERATED_DIR}/ProductDefinition.h CONTENT [[
#pragma once
// Generated from product/product.ini for the @HALVERN_PROFILE@ profile: change that file, not this one.
#include <array>

namespace stubframework::definition {

constexpr wchar_t kProductCode[] = L"@HALVERN_PRODUCT_CODE@";
constexpr wchar_t kProductVersion[] = L"@HALVERN_PRODUCT_VERSION@";
constexpr wchar_t kDefaultChannel[] = L"@HALVERN_DEF_CHANNEL@";
constexpr const wchar_t* kUpgradeCodes[] = {@halvern_upgrade_codes@};
// Public properties the command line's passthrough may hand to the installers.
constexpr std::array<const wchar_t*, @halvern_passthrough_count@> kPassthroughProperties = {{@halvern_passthrough@}};
constexpr wchar_t kServiceHost[] = L"@HALVERN_PROFILE_SERVICE_HOST@";
constexpr unsigned short kServicePort = @HALVERN_PROFILE_SERVICE_PORT@;
// Plain http downloads: only a build against loopback servers takes them.
constexpr bool kAllowHttpDownloads = @halvern_allow_http@;
// SHA-256 of the public keys of the publishers whose signatures the stub accepts.
constexpr std::array<const char*, @halvern_pin_count@> kPublisherKeyHashes = {{@halvern_pins@}};
// What the build is, as it reads in the image and at the start of the installer log.
constexpr char kBuildProfile[] =
    "stub-profile:@HALVERN_PROFILE@ service:@HALVERN_PROFILE_SERVICE_HOST@:@HALVERN_PROFILE_SERVICE_PORT@ "
    "http-downloads:@HALVERN_ALLOW_HTTP@ pins:@halvern_pin_text@";

}  // namespace stubframework::definition
]] @ONLY)

# The version resource and the manifest of the executables.
configure_file(${CMAKE_SOURCE_DIR}/resources/HalvernSetup.manifest.in ${HALVERN_GENERATED_DIR}/HalvernSetup.manifest @ONLY)
file(CONFIGURE OUTPUT ${HALVERN_GENERATED_DIR}/ProductResources.h CONTENT [[
// Generated from product/product.ini: change that file, not this one.
#define HALVERN_VERSION_COMMAS @HALVERN_VERSION_COMMAS@
#define HALVERN_VERSION_TEXT "@HALVERN_PRODUCT_VERSION@"
#define HALVERN_MANIFEST_FILE "@HALVERN_GENERATED_DIR@/HalvernSetup.manifest"
]] @ONLY)
include_directories(${HALVERN_GENERATED_DIR})

# The deployment: the five environments' base URLs and client credentials, the token file's key and
# the redirect address of the code exchange. They come from one CMake script, K5_DEPLOYMENT_FILE,
# are checked here and are compiled in through a generated header, <build>/generated/
# deployment_config.h. A malformed value stops the configure, so no build carries one.
#
# Run as a script, this file only checks a deployment file:
#   cmake -DK5_DEPLOYMENT_FILE=<path> -P cmake/K5Deployment.cmake

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  # A script has no project to set the policies; the checks below need today's if() rules.
  cmake_minimum_required(VERSION 3.25)
endif()

# The names a deployment file sets. K5_EXTRA_CA_FILE alone may be left out.
set(K5_DEPLOYMENT_ENVIRONMENTS DEV STAGING_PRACTICE STAGING_TRADE PRACTICE TRADE)
set(K5_DEPLOYMENT_NAMES "")
foreach(env IN LISTS K5_DEPLOYMENT_ENVIRONMENTS)
  list(APPEND K5_DEPLOYMENT_NAMES K5_ENV_${env}_HOST K5_ENV_${env}_CLIENT_ID
       K5_ENV_${env}_CLIENT_SECRET)
endforeach()
list(APPEND K5_DEPLOYMENT_NAMES K5_TOKEN_FILE_KEY K5_REDIRECT_URI K5_EXTRA_CA_FILE)

# Reads the deployment file `file` and checks every value; sets the K5_* names of
# K5_DEPLOYMENT_NAMES in the caller's scope. Stops with FATAL_ERROR, listing each value that is
# missing or malformed and the rule it breaks. Works in script mode too.
function(k5_read_deployment file)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "K5_DEPLOYMENT_FILE names no file:\n  ${file}")
  endif()
  # Only the file may supply the values: a stray -DK5_ENV_... or an earlier value must not fill a
  # gap in it unnoticed.
  foreach(name IN LISTS K5_DEPLOYMENT_NAMES)
    set(${name} "")
  endforeach()
  include("${file}")

  set(errors "")
  foreach(name IN LISTS K5_DEPLOYMENT_NAMES)
    set(value "${${name}}")
    string(LENGTH "${value}" length)
    if(name STREQUAL "K5_EXTRA_CA_FILE")
      # Native builds read it at run time; it may not exist yet at configure time (a test CA is
      # made when the tests start), but a relative path would depend on the working folder.
      if(NOT value STREQUAL "" AND NOT IS_ABSOLUTE "${value}")
        string(APPEND errors "\n  K5_EXTRA_CA_FILE is \"${value}\": it must be an absolute path")
      endif()
    elseif(value STREQUAL "")
      string(APPEND errors "\n  ${name} is missing or empty")
    elseif(name MATCHES "_HOST$" OR name STREQUAL "K5_REDIRECT_URI")
      # Request paths are appended to a base URL directly, and the redirect address travels
      # unescaped in a form body: scheme, host and port only.
      set(port_ok TRUE)
      if(value MATCHES "^https://([A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]+\\])(:([0-9]+))?$")
        set(port "${CMAKE_MATCH_4}")
        if(NOT port STREQUAL "")
          string(LENGTH "${port}" port_length)
          if(port_length GREATER 5 OR port LESS 1 OR port GREATER 65535)
            set(port_ok FALSE)
          endif()
        endif()
      else()
        set(port_ok FALSE)
      endif()
      if(NOT port_ok)
        string(APPEND errors "\n  ${name} is \"${value}\": it must be https://host[:port] with a "
               "port from 1 to 65535, no path and no trailing \"/\"")
      endif()
    elseif(name MATCHES "_CLIENT_ID$|_CLIENT_SECRET$")
      # The values themselves stay out of the message: it ends up in build logs.
      if(name MATCHES "_CLIENT_ID$")
        set(wanted 16)
      else()
        set(wanted 32)
      endif()
      if(NOT length EQUAL wanted OR NOT value MATCHES "^[A-Za-z0-9]+$")
        string(APPEND errors "\n  ${name} must be ${wanted} characters of A-Z, a-z, 0-9 (it has "
               "${length} characters")
        if(NOT value MATCHES "^[A-Za-z0-9]+$")
          string(APPEND errors ", not all of them A-Z, a-z, 0-9")
        endif()
        string(APPEND errors ")")
      endif()
    elseif(name STREQUAL "K5_TOKEN_FILE_KEY")
      if(NOT length EQUAL 8 OR NOT value MATCHES "^[0-9A-Fa-f]+$")
        string(APPEND errors "\n  K5_TOKEN_FILE_KEY must be 8 hexadecimal digits, byte 0 first (it "
               "has ${length} characters")
        if(NOT value MATCHES "^[0-9A-Fa-f]+$")
          string(APPEND errors ", not all of them hexadecimal digits")
        endif()
        string(APPEND errors ")")
      endif()
    endif()
  endforeach()
  if(NOT errors STREQUAL "")
    message(FATAL_ERROR "The deployment file ${file} is not valid:${errors}\n"
            "See \"Deployment\" in README.md.")
  endif()

  foreach(name IN LISTS K5_DEPLOYMENT_NAMES)
    set(${name} "${${name}}" PARENT_SCOPE)
  endforeach()
endfunction()

# Sets `out` to `value` as a C++ string literal.
function(k5_cxx_string_literal out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED K5_DEPLOYMENT_FILE)
    message(FATAL_ERROR "usage: cmake -DK5_DEPLOYMENT_FILE=<path> -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  get_filename_component(file "${K5_DEPLOYMENT_FILE}" ABSOLUTE)
  k5_read_deployment("${file}")
  message(STATUS "The deployment file ${file} is valid")
  return()
endif()

set(K5_DEPLOYMENT_FILE "${CMAKE_SOURCE_DIR}/cmake/deployments/dev.cmake"
    CACHE FILEPATH "The deployment file: a CMake script setting the K5_ENV_*, K5_TOKEN_FILE_KEY and K5_REDIRECT_URI values (see README.md)")
get_filename_component(K5_DEPLOYMENT_FILE_PATH "${K5_DEPLOYMENT_FILE}" ABSOLUTE)
k5_read_deployment("${K5_DEPLOYMENT_FILE_PATH}")
# include() already makes the file a configure dependency; said here so that it stays one.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${K5_DEPLOYMENT_FILE_PATH}")
message(STATUS "Deployment: ${K5_DEPLOYMENT_FILE_PATH}")
# The deployment's name, which may be shown and put into file names where its values may not: the
# file's name without folder and ".cmake" ("dev" for cmake/deployments/dev.cmake).
get_filename_component(K5_DEPLOYMENT_NAME "${K5_DEPLOYMENT_FILE_PATH}" NAME)
string(REGEX REPLACE "\\.cmake$" "" K5_DEPLOYMENT_NAME "${K5_DEPLOYMENT_NAME}")

# The values as C++ literals for the header template.
foreach(env IN LISTS K5_DEPLOYMENT_ENVIRONMENTS)
  foreach(field HOST CLIENT_ID CLIENT_SECRET)
    k5_cxx_string_literal(K5_CXX_${env}_${field} "${K5_ENV_${env}_${field}}")
  endforeach()
endforeach()
k5_cxx_string_literal(K5_CXX_REDIRECT_URI "${K5_REDIRECT_URI}")
k5_cxx_string_literal(K5_CXX_EXTRA_CA_FILE "${K5_EXTRA_CA_FILE}")
string(TOLOWER "${K5_TOKEN_FILE_KEY}" key)
string(REGEX REPLACE "(..)" "0x\\1, " K5_CXX_TOKEN_FILE_KEY "${key}")
string(REGEX REPLACE ", $" "" K5_CXX_TOKEN_FILE_KEY "${K5_CXX_TOKEN_FILE_KEY}")

set(K5_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/src/access/deployment_config.h.in
               ${K5_GENERATED_DIR}/deployment_config.h @ONLY)

# k5_add_test(<name> SOURCES <files...> [LIBS <targets...>] [FIXTURES <fixtures...>] [ERR_LOG])
# ERR_LOG: the suite's err texts go to <build>/err-logs/<name>.log (K5_ERR_LOG), which the check
# err_secrets scans after the suites.
# One GoogleTest program. Natively each test case becomes a CTest test; under Wine the program is
# one CTest test (starting Wine per case would cost a second each), and its output lists the cases.
include(GoogleTest)

# Where the suites registered with ERR_LOG write the err texts they were handed.
set(K5_ERR_LOG_DIR ${CMAKE_BINARY_DIR}/err-logs)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(K5_TEST_LABEL win32)
  else()
    set(K5_TEST_LABEL win64)
  endif()
  # The project's own Wine prefix, made once before any Windows test runs.
  add_test(NAME wine_prefix COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
endif()

function(k5_add_test name)
  cmake_parse_arguments(arg "ERR_LOG" "" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  set(environment "")
  if(arg_ERR_LOG)
    list(APPEND arg_FIXTURES err_log)
    # Wine passes the variable through as it is; the Windows program opens it as a Z: path.
    if(WIN32)
      set(environment ENVIRONMENT "K5_ERR_LOG=Z:${K5_ERR_LOG_DIR}/${name}.log")
    else()
      set(environment ENVIRONMENT "K5_ERR_LOG=${K5_ERR_LOG_DIR}/${name}.log")
    endif()
  endif()
  if(WIN32)
    add_test(NAME ${name}.${K5_TEST_LABEL} COMMAND ${name})
    set_tests_properties(${name}.${K5_TEST_LABEL}
                         PROPERTIES FIXTURES_REQUIRED "wine_prefix;${arg_FIXTURES}" ${environment})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${environment})
    # gtest_discover_tests splits a list-valued property into separate words, so the fixtures are
    # set by a file CTest includes after the discovered tests.
    if(arg_FIXTURES)
      set(fixtures_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_fixtures.cmake)
      file(WRITE ${fixtures_file}
           "if(${name}_TESTS)\n"
           "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED \"${arg_FIXTURES}\")\n"
           "endif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${fixtures_file})
    endif()
  endif()
endfunction()

# k5_add_test(<name> SOURCES <files...> [LIBS <targets...>] [FIXTURES <fixtures...>])
# One GoogleTest program. Natively each test case becomes a CTest test; under Wine the program is
# one CTest test (starting Wine per case would cost a second each), and its output lists the cases.
include(GoogleTest)

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
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name}.${K5_TEST_LABEL} COMMAND ${name})
    set_tests_properties(${name}.${K5_TEST_LABEL}
                         PROPERTIES FIXTURES_REQUIRED "wine_prefix;${arg_FIXTURES}")
  else()
    string(REPLACE ";" "\\;" fixtures "${arg_FIXTURES}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
endfunction()

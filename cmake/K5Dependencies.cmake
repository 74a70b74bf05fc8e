# Dependencies come from Debian's packages. The header-only ones live in /usr/include, which a
# cross build must not search as a whole (glibc headers would shadow mingw's), so each gets a
# folder of its own that holds only a link to it.
set(K5_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${K5_HEADER_ONLY_DIR})
foreach(dep rapidjson utf8cpp)
  if(NOT EXISTS /usr/include/${dep})
    message(FATAL_ERROR "/usr/include/${dep} is missing: run scripts/setup.sh")
  endif()
  file(CREATE_LINK /usr/include/${dep} ${K5_HEADER_ONLY_DIR}/${dep} SYMBOLIC)
endforeach()
add_library(k5_header_only INTERFACE)
target_include_directories(k5_header_only SYSTEM INTERFACE ${K5_HEADER_ONLY_DIR})

if(WIN32)
  # GoogleTest from the sources Debian ships; it builds with the -posix mingw compilers.
  if(K5_BUILD_TESTS)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
else()
  if(K5_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
endif()

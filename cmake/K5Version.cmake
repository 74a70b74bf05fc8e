# The version the user sees. One number, project(k5-mkview VERSION x.y.z) in CMakeLists.txt, and
# the deployment's name (K5_DEPLOYMENT_NAME, from K5Deployment.cmake) reach the code through a
# generated header, <build>/generated/k5_version.h, and the Windows binaries through a version
# resource made from one template, cmake/k5_version.rc.in. The deployment's values never go into
# either: binaries and their properties are shown to users.

if(NOT DEFINED K5_DEPLOYMENT_NAME)
  message(FATAL_ERROR "K5Version.cmake needs K5_DEPLOYMENT_NAME: include K5Deployment.cmake first")
endif()

set(K5_VERSION "${PROJECT_VERSION}")
set(K5_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
set(K5_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
set(K5_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
# A version resource has four numbers; the project gives three.
set(K5_VERSION_TWEAK 0)
foreach(part MINOR PATCH)
  if(K5_VERSION_${part} STREQUAL "")
    set(K5_VERSION_${part} 0)
  endif()
endforeach()

k5_cxx_string_literal(K5_CXX_VERSION "${K5_VERSION}")
k5_cxx_string_literal(K5_CXX_DEPLOYMENT_NAME "${K5_DEPLOYMENT_NAME}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/k5_version.h.in ${K5_GENERATED_DIR}/k5_version.h @ONLY)

# The header alone, for programs that show the version.
add_library(k5_version INTERFACE)
target_include_directories(k5_version INTERFACE ${K5_GENERATED_DIR})

# k5_add_version_resource(<target> <original file name> <description>)
# Gives the Windows binary of <target> a version resource: file and product version, product name,
# <description>, <original file name> and the deployment's name. Does nothing natively.
function(k5_add_version_resource target original_filename description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(K5_RC_FILE_TYPE VFT_DLL)
  else()
    set(K5_RC_FILE_TYPE VFT_APP)
  endif()
  # Resource strings escape '"' by doubling it and '\' by itself.
  foreach(name original_filename description K5_DEPLOYMENT_NAME)
    string(REPLACE "\\" "\\\\" value "${${name}}")
    string(REPLACE "\"" "\"\"" value "${value}")
    set(K5_RC_${name} "${value}")
  endforeach()
  get_filename_component(K5_RC_internal_name "${original_filename}" NAME_WE)
  set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/k5_version.rc.in ${rc_file} @ONLY)
  # An object library of its own with no options: windres takes none of the compiler options
  # that the target and its folder carry (-Wall, -ffile-prefix-map, ...).
  add_library(${target}_version_resource OBJECT ${rc_file})
  set_property(TARGET ${target}_version_resource PROPERTY COMPILE_OPTIONS "")
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_version_resource>)

  if(K5_BUILD_TESTS)
    # The built binary's resource against the project's version and the deployment's name.
    add_test(NAME version_resource.${target}.${K5_TEST_LABEL}
             COMMAND ${CMAKE_COMMAND} -DBINARY=$<TARGET_FILE:${target}>
                     -DOBJCOPY=${K5_MINGW_TRIPLE}-objcopy -DVERSION=${K5_VERSION}
                     -DORIGINAL_FILENAME=${original_filename}
                     -DDEPLOYMENT_NAME=${K5_DEPLOYMENT_NAME}
                     -DDEPLOYMENT_FILE=${K5_DEPLOYMENT_FILE_PATH}
                     -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/version_resource_check.${target}
                     -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/K5VersionResourceCheck.cmake)
  endif()
endfunction()

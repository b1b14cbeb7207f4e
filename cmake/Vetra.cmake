# Helpers that keep each folder's build rule to one line: a folder's sources
# are globbed, so adding a file needs no CMake edit.

# The folder the tests make their temporary files in (their TMPDIR).
set(VETRA_TEST_TMPDIR "${CMAKE_BINARY_DIR}/test-tmp")

# vetra_library(<name> <folder> [DEPS <lib>...] [LIBS <system lib>...])
# One static library per source folder.
function(vetra_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
  else()  # a folder whose first file is still to come
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_LIBS})
  endif()
endfunction()

# vetra_tests(<name> <folder> DEPS <lib>... [BUILT_DATA <gtest filter>])
# One test executable per test folder, every *_test.cpp in it. The cases the
# filter names read the built system data: they are listed once, with
# VETRA_SYSTEM_DATA_DIR set to it (empty without built data: they skip).
function(vetra_tests name dir)
  cmake_parse_arguments(ARG "" "BUILT_DATA" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*_test.cpp"
                                      "${PROJECT_SOURCE_DIR}/${dir}/*_support.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vetra_test_support GTest::gtest GTest::gtest_main
                                        Threads::Threads)
  set(filter "")
  if(ARG_BUILT_DATA)
    set(filter TEST_FILTER "-${ARG_BUILT_DATA}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "${ARG_BUILT_DATA}" TEST_LIST ${name}_built_data
                         PROPERTIES ENVIRONMENT_MODIFICATION "TMPDIR=set:${VETRA_TEST_TMPDIR}"
                                    FIXTURES_REQUIRED vetra_temp)
    # A two-variable environment does not pass through the discovery's
    # properties (a list there is flattened): it is set once ctest has read
    # the discovered names.
    set(env_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_built_data_env.cmake")
    file(CONFIGURE OUTPUT "${env_file}" CONTENT [[
if(@name@_built_data)
  set_tests_properties(${@name@_built_data} PROPERTIES
                       ENVIRONMENT "VETRA_SOURCE_DIR=@PROJECT_SOURCE_DIR@;VETRA_SYSTEM_DATA_DIR=@VETRA_BUILT_SYSTEM_DIR@")
endif()
]] @ONLY)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${env_file}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter}
                       PROPERTIES ENVIRONMENT "VETRA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                  ENVIRONMENT_MODIFICATION "TMPDIR=set:${VETRA_TEST_TMPDIR}"
                                  FIXTURES_REQUIRED vetra_temp)
endfunction()

# vetra_test_temp(<test>...): the tests make their temporary files in the
# build's test folder, which is checked empty after the run (tests/).
function(vetra_test_temp)
  set_tests_properties(${ARGN} PROPERTIES ENVIRONMENT_MODIFICATION "TMPDIR=set:${VETRA_TEST_TMPDIR}"
                                          FIXTURES_REQUIRED vetra_temp)
endfunction()

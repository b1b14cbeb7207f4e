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

# vetra_tests(<name> <folder> DEPS <lib>...)
# One test executable per test folder, every *_test.cpp in it.
function(vetra_tests name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${dir}/*_test.cpp"
                                      "${PROJECT_SOURCE_DIR}/${dir}/*_support.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vetra_test_support GTest::gtest GTest::gtest_main
                                        Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
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

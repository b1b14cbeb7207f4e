# The test run's temporary folder (TMPDIR of every test): emptied before the
# tests, then checked empty after them, so that a test that leaves files
# behind fails the run. Run by ctest with the script mode of cmake:
#   cmake -DDIR=<folder> -DMODE=setup|check -P temp_dir_check.cmake
if(MODE STREQUAL "setup")
  file(REMOVE_RECURSE "${DIR}")
  file(MAKE_DIRECTORY "${DIR}")
  return()
endif()
file(GLOB left RELATIVE "${DIR}" "${DIR}/*")
if(left)
  list(JOIN left ", " names)
  file(REMOVE_RECURSE "${DIR}")
  file(MAKE_DIRECTORY "${DIR}")
  message(FATAL_ERROR "tests left behind in ${DIR}: ${names}")
endif()

# One temporary folder per test run: every test gets TMPDIR set to it, ctest
# makes it before the first test and removes it after the last one, failed or
# not, so that a run leaves nothing in /tmp (registry and lock files that hold
# a scrambled PIN, part files, scratch folders).
#
#   include(cmake/test_tmp.cmake), then palvo_test_tmp() at the end of a
#   folder's CMakeLists: that folder's tests use it.
#
# The folder lives in the build tree: a run that is killed before its
# clean-up leaves it there, where the next run replaces it.
if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DPALVO_TEST_TMP=<dir> -P test_tmp.cmake: a fresh, private folder.
  file(REMOVE_RECURSE ${PALVO_TEST_TMP})
  file(MAKE_DIRECTORY ${PALVO_TEST_TMP})
  file(CHMOD ${PALVO_TEST_TMP} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  return()
endif()
set(PALVO_TEST_TMP ${CMAKE_BINARY_DIR}/test-tmp)

function(palvo_test_tmp)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests palvo_tmp_make palvo_tmp_remove)
  if(tests)
    set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED palvo_tmp)
    set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT "TMPDIR=${PALVO_TEST_TMP}")
  endif()
endfunction()

# The pair that makes and removes it, once, in the first folder that includes
# this file.
get_property(palvo_tmp_added GLOBAL PROPERTY PALVO_TEST_TMP_ADDED)
if(NOT palvo_tmp_added)
  set_property(GLOBAL PROPERTY PALVO_TEST_TMP_ADDED TRUE)
  add_test(NAME palvo_tmp_make COMMAND ${CMAKE_COMMAND} -DPALVO_TEST_TMP=${PALVO_TEST_TMP} -P
                                       ${CMAKE_CURRENT_LIST_FILE})
  add_test(NAME palvo_tmp_remove COMMAND ${CMAKE_COMMAND} -E rm -rf ${PALVO_TEST_TMP})
  set_tests_properties(palvo_tmp_make PROPERTIES FIXTURES_SETUP palvo_tmp)
  set_tests_properties(palvo_tmp_remove PROPERTIES FIXTURES_CLEANUP palvo_tmp)
endif()

# The properties for gtest_discover_tests, whose tests are only known at test
# time.
set(PALVO_TEST_TMP_PROPERTIES FIXTURES_REQUIRED palvo_tmp ENVIRONMENT "TMPDIR=${PALVO_TEST_TMP}")

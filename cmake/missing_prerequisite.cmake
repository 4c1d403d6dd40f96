# The test that stands for one that cannot run here, as its prerequisite is
# missing: a skip on a developer's machine, a failure under CI (CI=true).
#
#   cmake -DWHAT=<what is missing> -P missing_prerequisite.cmake
#   (with the test's SKIP_REGULAR_EXPRESSION "skipped: ")
if("$ENV{CI}" STREQUAL "true")
  message(FATAL_ERROR "${WHAT} is missing (needed under CI=true)")
endif()
message("skipped: ${WHAT} is missing")

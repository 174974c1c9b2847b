# One brief fuzz run for CTest: the committed corpus is only read; new
# inputs and any crash go to a fresh work directory in the build tree.
# Variables: FUZZER, CORPUS, DICT (may be empty), OPTIONS (comma-separated,
# may be empty), WORK, SECONDS.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
set(args -max_total_time=${SECONDS} -timeout=10 -print_final_stats=1
    -artifact_prefix=${WORK}/artifacts/)
if(DICT)
  list(APPEND args -dict=${DICT})
endif()
if(OPTIONS)
  string(REPLACE "," ";" options "${OPTIONS}")
  list(APPEND args ${options})
endif()
execute_process(COMMAND ${FUZZER} ${args} ${WORK}/corpus ${CORPUS} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB found ${WORK}/artifacts/*)
  message(FATAL_ERROR "${FUZZER} failed (${result}); reproducer: ${found}")
endif()

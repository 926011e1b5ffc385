# cmake -DFUZZER=... -DSEEDS=... -DDICTIONARY=... -DWORK=... -DRUNS=... -P Smoke.cmake
# One deterministic fuzz run from the seeds into a fresh corpus; fails on any finding.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -max_len=16384 -dict=${DICTIONARY}
          -artifact_prefix=${WORK}/ -print_final_stats=1 ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer found a fault (exit ${result}); the input is in ${WORK}")
endif()

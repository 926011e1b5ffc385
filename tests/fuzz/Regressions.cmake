# cmake -DFUZZER=... -DKEPT=... -P Regressions.cmake
# Runs every kept input of a fuzz target once; fails when any of them faults again.
file(GLOB inputs LIST_DIRECTORIES false ${KEPT}/*)
if(NOT inputs)
  return()
endif()
execute_process(COMMAND ${FUZZER} ${inputs} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "a kept input faults again (exit ${result})")
endif()

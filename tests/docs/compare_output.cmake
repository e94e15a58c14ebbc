# Runs HOST and compares its standard output with the file EXPECTED, byte for byte.
execute_process(COMMAND ${HOST} OUTPUT_VARIABLE actual RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${HOST} exited with ${status}:\n${actual}")
endif()
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output of ${HOST} differs.\nexpected:\n${expected}\nactual:\n${actual}")
endif()

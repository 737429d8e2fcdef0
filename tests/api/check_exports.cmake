# Fails unless the dynamic symbol table of LIBRARY defines the factory and
# nothing else but the run-time type information of the two interfaces.
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
if(NOT listing MATCHES " _ZN7cFitAPI6CreateEP10cFitParams(\n|$)")
  message(FATAL_ERROR "cFitAPI::Create is not exported:\n${listing}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # Version nodes of the library itself (absolute symbols) are not symbols of ours.
  if(NOT line STREQUAL "" AND NOT line MATCHES "^[0-9a-fA-F]* *A "
     AND NOT line MATCHES " (_ZN7cFitAPI6CreateEP10cFitParams|_ZT[IS]7cFitAPI|_ZT[IS]9cCPSolver)$")
    message(FATAL_ERROR "unexpected exported symbol: ${line}")
  endif()
endforeach()
message(STATUS "exports ok")

# Installs the build into a fresh prefix and runs the installed tool against
# the simulated arm: it must find the simulator's link library in its
# documented place (<prefix>/lib/tarsel/sim) with no environment variable.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}): ${err}")
endif()
unset(ENV{TARSEL_SIM_LINK})
execute_process(COMMAND "${prefix}/bin/tarsel" --sim version
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Arm code [0-9]")
  message(FATAL_ERROR "installed tarsel --sim version failed (${rc}):\n${out}\n${err}")
endif()
message(STATUS "installed tool: ${out}")

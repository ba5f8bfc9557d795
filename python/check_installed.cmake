# Installs the build into a fresh prefix, then imports the installed package
# with only PYTHONPATH set and reads a simulated arm: the extension must find
# the API library through its run path, and the API library the simulator's
# link library in <prefix>/lib/tarsel/sim.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}): ${err}")
endif()
foreach(variable TARSEL_SIM TARSEL_SIM_LINK LD_LIBRARY_PATH PYTHONPATH)
  unset(ENV{${variable}})
endforeach()
set(ENV{PYTHONPATH} "${prefix}/${PACKAGE_DIR}")
set(ENV{PYTHONDONTWRITEBYTECODE} 1)
execute_process(
  COMMAND "${PYTHON}" -c
    "import tarsel; print(tarsel.__file__); print(tarsel.Arm(simulated=True).get_angular_position())"
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "${prefix}/" at)
if(NOT rc EQUAL 0 OR NOT at EQUAL 0 OR NOT out MATCHES "AngularPosition\\(")
  message(FATAL_ERROR "the installed package failed (${rc}):\n${out}\n${err}")
endif()
# The stub installed is the one the build made, with the Arm's table methods.
file(READ "${prefix}/${PACKAGE_DIR}/tarsel/__init__.pyi" installed_stub)
file(READ "${BUILD_DIR}/python/tarsel/__init__.pyi" built_stub)
if(NOT installed_stub STREQUAL built_stub)
  message(FATAL_ERROR "the installed stub is not the one the build made")
endif()
message(STATUS "installed package: ${out}")

# Installs the build into a fresh prefix, then builds a small outside project
# against it with CMake and with pkg-config, and runs both programs.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
file(GLOB_RECURSE config "${prefix}/*/TarselConfig.cmake")
file(GLOB_RECURSE pc "${prefix}/*/tarsel-arm-control.pc")
file(GLOB_RECURSE rule "${prefix}/*/60-tarsel-arm.rules")
if(NOT config OR NOT pc OR NOT rule)
  message(FATAL_ERROR "installed package incomplete: '${config}' '${pc}' '${rule}'")
endif()

run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/cmake-build"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake-build")
run("${WORK_DIR}/cmake-build/consumer")
message(STATUS "cmake consumer: ${last_output}")

get_filename_component(pcdir "${pc}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND pkg-config --cflags --libs tarsel-arm-control
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know tarsel-arm-control")
endif()
# The consumer must not depend on how the library itself was instrumented.
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++11 -Wall -Wextra -Wpedantic -Werror "${CONSUMER_DIR}/main.cpp" ${flags}
    -o "${WORK_DIR}/pc-consumer")
run("${WORK_DIR}/pc-consumer")
message(STATUS "pkg-config consumer: ${last_output}")

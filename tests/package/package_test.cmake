# Installs the built library into a scratch prefix and builds and runs the
# consumer project against it: proves that the installed headers, library,
# exported targets and package configuration are enough on their own.
# Run with cmake -P; KORVANE_BUILD_DIR, CONSUMER_DIR, WORK_DIR, CXX_COMPILER,
# GENERATOR and BUILD_TYPE are given by the test.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

execute_process(COMMAND ${CMAKE_COMMAND} --install ${KORVANE_BUILD_DIR} --prefix ${prefix}
                        --component Development
                COMMAND_ERROR_IS_FATAL ANY)
foreach(f include/korvane/io/kvio.h include/korvane/foundations/host/graphics.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

set(launcher)
if(DEFINED ENV{CMAKE_CXX_COMPILER_LAUNCHER})
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
                        -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
                        -DCMAKE_PREFIX_PATH=${prefix} ${launcher}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WORK_DIR}/build/consumer ${WORK_DIR}/consumer.bmp
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer failed: ${rc}")
endif()

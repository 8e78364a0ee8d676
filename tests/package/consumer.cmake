# Builds and runs the consumer project of CONSUMER_DIR against an installed
# Korvane, once through find_package and once through pkg-config. Included by
# the package scripts; CONSUMER_DIR, WORK_DIR and CXX_COMPILER are set by the
# caller.

# Runs a built consumer, which round-trips a small image through a BMP file.
# Extra arguments are environment settings (NAME=value).
function(korvane_run_consumer exe)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${ARGN} ${exe} ${exe}.bmp RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${exe} failed: ${rc}")
  endif()
endfunction()

# The CMake consumer: find_package(Korvane) with the prefix in CMAKE_PREFIX_PATH.
function(korvane_cmake_consumer prefix generator build_type)
  set(launcher)
  if(DEFINED ENV{CMAKE_CXX_COMPILER_LAUNCHER})
    set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${generator}
                          -DCMAKE_BUILD_TYPE=${build_type} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
                          -DCMAKE_PREFIX_PATH=${prefix} ${launcher}
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# The pkg-config consumer: one compiler command with the flags of
# `pkg-config [--static] --cflags --libs korvane`, korvane.pc found in
# pc_dir. Sets ${out} to the program.
function(korvane_pkgconfig_consumer pc_dir static out)
  set(pc_args --cflags --libs korvane)
  if(static)
    list(PREPEND pc_args --static)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} pkg-config ${pc_args}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(exe ${WORK_DIR}/consumer_pc)
  execute_process(COMMAND ${CXX_COMPILER} -std=c++20 ${CONSUMER_DIR}/main.cpp -o ${exe} ${flags}
                  COMMAND_ERROR_IS_FATAL ANY)
  set(${out} ${exe} PARENT_SCOPE)
endfunction()

# Fails unless the program's dynamic section lists the shared library.
function(korvane_expect_needed exe soname)
  execute_process(COMMAND readelf -d ${exe} OUTPUT_VARIABLE dyn COMMAND_ERROR_IS_FATAL ANY)
  if(NOT dyn MATCHES "NEEDED[^\n]*\\[${soname}\\]")
    message(FATAL_ERROR "${exe} does not load ${soname}:\n${dyn}")
  endif()
endfunction()

# Installs the built library into a scratch prefix and builds and runs the
# consumer project against it, through find_package and through pkg-config:
# proves that the installed headers, library, exported targets, package
# configuration and korvane.pc are enough on their own.
# Run with cmake -P; KORVANE_BUILD_DIR, CONSUMER_DIR, WORK_DIR, CXX_COMPILER,
# GENERATOR, BUILD_TYPE, LIBDIR (relative to the prefix) and SHARED (the
# library's soname when it is built shared, else empty) are given by the test.
include(${CMAKE_CURRENT_LIST_DIR}/consumer.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

set(components Development)
if(SHARED)
  list(APPEND components Runtime)
endif()
foreach(component ${components})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${KORVANE_BUILD_DIR} --prefix ${prefix}
                          --component ${component}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(f include/korvane/io/kvio.h include/korvane/foundations/host/graphics.h ${LIBDIR}/pkgconfig/korvane.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

korvane_cmake_consumer(${prefix} ${GENERATOR} ${BUILD_TYPE})
korvane_run_consumer(${WORK_DIR}/build/consumer)

if(SHARED)
  korvane_pkgconfig_consumer(${prefix}/${LIBDIR}/pkgconfig OFF pc_consumer)
  korvane_expect_needed(${pc_consumer} ${SHARED})
  korvane_run_consumer(${pc_consumer} LD_LIBRARY_PATH=${prefix}/${LIBDIR})
else()
  korvane_pkgconfig_consumer(${prefix}/${LIBDIR}/pkgconfig ON pc_consumer)
  korvane_run_consumer(${pc_consumer})
endif()

# Unpacks the Debian package of PACKAGE_DIR (made by `make package`) into a
# scratch root and checks that it stands on its own: Depends names packages
# this machine knows, the library sits where the dynamic loader looks, the
# consumer project builds through CMake and through pkg-config against the
# root, and the root's korvane tool runs.
# Run with cmake -P; PACKAGE_DIR, CONSUMER_DIR, WORK_DIR, CXX_COMPILER and
# GENERATOR are given by the caller.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/consumer.cmake)
file(GLOB deb ${PACKAGE_DIR}/korvane_*.deb)
list(LENGTH deb count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one korvane_*.deb in ${PACKAGE_DIR}, found: ${deb}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
set(root ${WORK_DIR}/root)
file(MAKE_DIRECTORY ${root})
execute_process(COMMAND dpkg -x ${deb} ${root} COMMAND_ERROR_IS_FATAL ANY)

# Depends: the development packages a consumer compiles with, and what
# dpkg-shlibdeps found for the binaries; every entry an installed package.
execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Depends: ${depends}")
string(REGEX REPLACE " *\\([^)]*\\)" "" names "${depends}")
string(REGEX REPLACE " *, *" ";" names "${names}")
foreach(p qt6-base-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libv4l-dev libc6 libqt6widgets6)
  if(NOT p IN_LIST names)
    message(FATAL_ERROR "Depends lacks ${p}: ${depends}")
  endif()
endforeach()
foreach(entry ${names})
  string(REGEX REPLACE " *\\|.*" "" p "${entry}")
  execute_process(COMMAND dpkg-query -W ${p} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Depends names ${p}, which is no installed package")
  endif()
endforeach()

execute_process(COMMAND ${CXX_COMPILER} -print-multiarch OUTPUT_VARIABLE multiarch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(libdir ${root}/usr/lib/${multiarch})
foreach(f ${libdir}/libkorvane.so ${root}/usr/bin/korvane ${root}/usr/include/korvane/io/kvio.h
          ${libdir}/pkgconfig/korvane.pc ${libdir}/cmake/Korvane/KorvaneConfig.cmake)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "not in the package: ${f}")
  endif()
endforeach()
execute_process(COMMAND readelf -d ${libdir}/libkorvane.so OUTPUT_VARIABLE dyn COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "SONAME[^\n]*\\[(libkorvane[.a-z0-9]*)\\]" _ "${dyn}")
set(soname ${CMAKE_MATCH_1})
if(NOT soname OR NOT EXISTS ${libdir}/${soname})
  message(FATAL_ERROR "the library's soname '${soname}' is not in ${libdir}")
endif()
# The tool finds the library through the loader's own search, not an RPATH.
korvane_expect_needed(${root}/usr/bin/korvane ${soname})
execute_process(COMMAND readelf -d ${root}/usr/bin/korvane OUTPUT_VARIABLE dyn COMMAND_ERROR_IS_FATAL ANY)
if(dyn MATCHES "RPATH|RUNPATH")
  message(FATAL_ERROR "usr/bin/korvane carries a run path:\n${dyn}")
endif()

korvane_cmake_consumer(${root}/usr ${GENERATOR} Release)
korvane_run_consumer(${WORK_DIR}/build/consumer LD_LIBRARY_PATH=${libdir})

# korvane.pc names /usr; the copy read here names the root instead.
file(STRINGS ${libdir}/pkgconfig/korvane.pc prefix REGEX "^prefix=")
if(NOT prefix STREQUAL "prefix=/usr")
  message(FATAL_ERROR "korvane.pc has ${prefix}, not prefix=/usr")
endif()
file(READ ${libdir}/pkgconfig/korvane.pc pc)
string(REPLACE "prefix=/usr\n" "prefix=${root}/usr\n" pc "${pc}")
file(WRITE ${WORK_DIR}/pkgconfig/korvane.pc "${pc}")
korvane_pkgconfig_consumer(${WORK_DIR}/pkgconfig OFF pc_consumer)
korvane_expect_needed(${pc_consumer} ${soname})
korvane_run_consumer(${pc_consumer} LD_LIBRARY_PATH=${libdir})

execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${root}/usr/bin/korvane --help
                OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT help MATCHES "Usage: korvane")
  message(FATAL_ERROR "korvane --help failed (${rc}):\n${help}")
endif()

# Installs the build tree into a fresh prefix and checks that every program
# and manual page is there. -D BUILD=<build tree> -D PREFIX=<empty dir>
# [-D EMULATOR=<the cross build's emulator>]
set(installed
  bin/dimerscan share/man/man1/dimerscan.1
  bin/dimerstates share/man/man1/dimerstates.1
  bin/dimerplot share/man/man1/dimerplot.1
  bin/dimermag share/man/man1/dimermag.1
  bin/dimerepr share/man/man1/dimerepr.1
)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(f IN LISTS installed)
  if(NOT EXISTS "${PREFIX}/${f}" OR IS_DIRECTORY "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${EMULATOR} "${PREFIX}/bin/dimerstates" --help RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installed dimerstates --help: status ${status}")
endif()
file(REMOVE_RECURSE "${PREFIX}")

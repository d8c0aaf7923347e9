# What the built dimerscan answers instead of running: --version and --help,
# with status 0, leaving no file behind; output that cannot be written is a
# failure.
#   cmake -D PROGRAM=<dimerscan> -D VERSION=<x.y.z> [-D EMULATOR=<command>]
#         -D WORK=<empty dir> -P programs.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(failures 0)
function(expect what got want)
  if(NOT got STREQUAL want)
    message(SEND_ERROR "${what}: got [${got}], want [${want}]")
    set(failures 1 PARENT_SCOPE)
  endif()
endfunction()

execute_process(COMMAND ${EMULATOR} "${PROGRAM}" --version WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
expect("--version" "${status}|${out}|${err}" "0|dimerscan ${VERSION}\n|")

execute_process(COMMAND ${EMULATOR} "${PROGRAM}" --help WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(FIND "${out}" "fort.10" at10)
string(FIND "${out}" "fort.20" at20)
string(REGEX MATCH "^Usage: dimerscan " usage "${out}")
expect("--help" "${status}|${err}|${usage}" "0||Usage: dimerscan ")
if(at10 EQUAL -1 OR at20 EQUAL -1)
  expect("--help names the files" "${out}" "... fort.10 ... fort.20 ...")
endif()

file(GLOB left "${WORK}/*")
expect("files left" "${left}" "")

if(EXISTS /dev/full AND NOT EMULATOR)
  execute_process(COMMAND "${PROGRAM}" --help OUTPUT_FILE /dev/full ERROR_VARIABLE err
    RESULT_VARIABLE status)
  expect("--help on a full device" "${status}|${err}"
    "2|dimerscan: standard output could not be written: No space left on device\n")
endif()

if(failures)
  message(FATAL_ERROR "dimerscan --help and --version")
endif()

# The built program as a user runs it, checked with nothing but CMake, so that
# the same checks run natively and, through an emulator, on Windows (Wine) and
# Linux ARM64 (qemu-user): the worked example's bytes, a 2001-pass sweep, the
# prompts, error reports and statuses, a directory named fort.10, an old
# fort.10 cut to the run.
#   cmake -D PROGRAM=<dimerscan> [-D EMULATOR=<command>] -D WORK=<empty dir> -P acceptance.cmake
cmake_minimum_required(VERSION 3.25)

set(CR "\r")
set(p1 " Enter the value for J (cm-1) :${CR}\n")
set(p2 " Enter values for D1min, D1max (cm-1), and  the step size :${CR}\n")
set(p3 " Enter value for D2 (cm-1):${CR}\n")
set(p4 " Enter values for E1/D1 and E2/D2:${CR}\n")
set(p5 " Do you want to see the eigenvectors?${CR}\n (1 = yes, 0 = no):${CR}\n")
set(prompts "${p1}${p2}${p3}${p4}${p5}")

set(failures 0)
macro(fail what)
  message(SEND_ERROR "${case}: ${what}")
  math(EXPR failures "${failures} + 1")
endmacro()

# run(<input> [<set-up: directory | old10 <bytes>>]): runs the program in a
# fresh directory with <input> on standard input; sets out, err, status.
function(run input)
  set(dir "${WORK}/${case}")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${WORK}/${case}.in" "${input}")
  if(ARGV1 STREQUAL "directory")
    file(MAKE_DIRECTORY "${dir}/fort.10")
  elseif(ARGV1 STREQUAL "old10")
    file(WRITE "${dir}/fort.10" "${ARGV2}")
  endif()
  execute_process(COMMAND ${EMULATOR} "${PROGRAM}"
    WORKING_DIRECTORY "${dir}"
    INPUT_FILE "${WORK}/${case}.in"
    OUTPUT_FILE "${WORK}/${case}.out"
    ERROR_FILE "${WORK}/${case}.err"
    RESULT_VARIABLE code)
  # Standard output in hexadecimal: file(READ) as text would drop the
  # carriage returns.
  file(READ "${WORK}/${case}.out" o HEX)
  file(READ "${WORK}/${case}.err" e)
  set(out "${o}" PARENT_SCOPE)
  set(err "${e}" PARENT_SCOPE)
  set(status "${code}" PARENT_SCOPE)
  set(dir "${dir}" PARENT_SCOPE)
endfunction()

# A function, not a macro: a macro's arguments would be read again as text.
function(expect_equal what got want)
  if(NOT got STREQUAL want)
    fail("${what}: got [${got}], want [${want}]")
    set(failures ${failures} PARENT_SCOPE)
  endif()
endfunction()

macro(expect_sum file want)
  if(NOT EXISTS "${dir}/${file}" OR IS_DIRECTORY "${dir}/${file}")
    fail("${file} missing")
  else()
    file(SHA256 "${dir}/${file}" sum)
    expect_equal("${file}" "${sum}" "${want}")
  endif()
endmacro()

macro(expect_no file)
  if(EXISTS "${dir}/${file}" AND NOT IS_DIRECTORY "${dir}/${file}")
    fail("${file} was created")
  endif()
endmacro()

# expect_out(<text>): standard output was exactly <text>.
function(expect_out text)
  string(HEX "${text}" want)
  expect_equal(stdout "${out}" "${want}")
  set(failures ${failures} PARENT_SCOPE)
endfunction()

macro(report line message)
  set(want_err "At line ${line} of file dimerscan\nFortran runtime error: ${message}\n")
endmacro()

set(worked "-1\n0 0 1\n5\n0 0\n1\n")
set(worked10 6dd69085fb1f42b0e40eb647b4a9a6b9ad7596037ea5115cae508948f61b1f13)
set(worked20 9f4e12efb6bf7861e808874c76f88cbb06ae22cfc1df54737cac99e438900aa9)

set(case worked_example)
run("${worked}")
expect_equal(status "${status}" 0)
expect_out("${prompts}")
expect_equal(stderr "${err}" "")
expect_sum(fort.10 ${worked10})
expect_sum(fort.20 ${worked20})

# J = -1, D1 from 0 to 20 in steps of 0.01, ratios 0.1 and 0.2: 2001 passes,
# the same bytes with and without eigenvectors.
foreach(matz 0 1)
  set(case sweep2001_matz${matz})
  run("-1\n0 20 0.01\n0\n0.1 0.2\n${matz}\n")
  expect_equal(status "${status}" 0)
  expect_sum(fort.10 27a82c47b7dc9813647a06d17a54234a931113bc984357f67171a8549683cafe)
  expect_sum(fort.20 0128639b8472d6405313ece0306f3f4d11d91a33bbd6bdd876139bbea9545405)
endforeach()

set(case bad_value_at_d2)
run("-1\n0 0 1\nabc\n")
report(50 "Bad real number in item 1 of list input")
expect_equal(status "${status}" 2)
expect_out("${p1}${p2}${p3}")
expect_equal(stderr "${err}" "${want_err}")
expect_no(fort.10)

set(case empty_input)
run("")
report(43 "End of file")
expect_equal(status "${status}" 2)
expect_out("${p1}")
expect_equal(stderr "${err}" "${want_err}")

set(case bad_integer)
run("-1\n0 0 1\n5\n0 0\nyes\n")
report(63 "Bad integer for item 1 in list input")
expect_equal(status "${status}" 2)
expect_equal(stderr "${err}" "${want_err}")

set(case endless_sweep)
run("-1\n0 1 0\n")
report(47 "D1 sweep does not end: the step must be positive and give at most 2147483647 passes")
expect_equal(status "${status}" 2)
expect_equal(stderr "${err}" "${want_err}")

set(case no_pass)
run("-1\n1 0 1\n5\n0 0\n1\n")
expect_equal(status "${status}" 0)
expect_no(fort.10)
expect_no(fort.20)

# The host's own text for a directory that cannot be opened as a file.
set(case directory_fort10)
run("${worked}" directory)
expect_equal(status "${status}" 2)
if(NOT err MATCHES "^At line 265 of file dimerscan\nFortran runtime error: [^\n]+\n$")
  fail("stderr: [${err}]")
endif()
expect_no(fort.20)

string(REPEAT "old contents of an earlier run\n" 4000 long_old)
foreach(old long short)
  set(case old_fort10_${old})
  if(old STREQUAL "long")
    run("${worked}" old10 "${long_old}")
  else()
    run("${worked}" old10 "x\n")
  endif()
  expect_equal(status "${status}" 0)
  expect_sum(fort.10 ${worked10})
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} acceptance checks failed")
endif()
message(STATUS "acceptance: every check passed")

# The portable suite as a Windows program run through the cross build's emulator (Wine),
# in three steps:
#   -DSTEP=list  after the link: lists the suite's tests through the emulator and writes
#                OUT, a ctest file that registers each of them;
#   -DSTEP=run   the ctest fixture: runs the whole suite once into LOG;
#   -DSTEP=check each registered test: passes when LOG shows that the test NAME passed,
#                and shows what it printed otherwise.
# Starting Wine for each of the suite's tests would take minutes, one run takes seconds,
# and ctest still counts and reports each test on its own. Wine runs in the prefix
# PREFIX, which no Wine lane shares.
cmake_minimum_required(VERSION 3.25)
set(ENV{WINEPREFIX} ${PREFIX})

# Wine's session in the prefix (its server and desktop) ends with each step.
function(end_wine_session)
  execute_process(COMMAND wineserver -k OUTPUT_QUIET ERROR_QUIET)
endfunction()

if(STEP STREQUAL "list")
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} --gtest_list_tests
    OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 300)
  end_wine_session()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed (${status}):\n${errors}")
  endif()
  # A suite's line ends in a dot, its tests follow indented; value and type parameters
  # are shown after a '#'.
  string(REPLACE "\r" "" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(script "")
  set(count 0)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE " *#.*" "" line "${line}")
    if(line MATCHES "^([^ ].*\\.)$")
      set(suite ${CMAKE_MATCH_1})
    elseif(line MATCHES "^  ([^ ]+)$" AND DEFINED suite)
      set(name ${suite}${CMAKE_MATCH_1})
      string(APPEND script
        "add_test([=[${name}]=] [=[${CMAKE_COMMAND}]=] -DSTEP=check [=[-DNAME=${name}]=]"
        " [=[-DLOG=${LOG}]=] -P [=[${CMAKE_CURRENT_LIST_FILE}]=])\n"
        "set_tests_properties([=[${name}]=] PROPERTIES LABELS portable"
        " FIXTURES_REQUIRED portable_windows)\n")
      math(EXPR count "${count} + 1")
    endif()
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} listed no tests:\n${listing}${errors}")
  endif()
  # Written whole before a ctest starting meanwhile can read it.
  file(WRITE ${OUT}.new "${script}")
  file(RENAME ${OUT}.new ${OUT})
elseif(STEP STREQUAL "run")
  file(REMOVE ${LOG})
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} OUTPUT_FILE ${LOG} ERROR_VARIABLE errors
    RESULT_VARIABLE status)
  end_wine_session()
  file(STRINGS ${LOG} failed REGEX "^\\[  FAILED  \\] .* \\([0-9]+ ms\\)")
  file(STRINGS ${LOG} summary REGEX "^\\[==========\\] .* ran\\.")
  list(JOIN failed "\n" failed)
  message("${summary}\n${failed}\nthe whole output: ${LOG}")
  # Failed tests fail on their own; a run that ended early leaves every result unknown.
  if(NOT summary)
    message(FATAL_ERROR "the suite did not run to its end (${status}):\n${errors}")
  endif()
elseif(STEP STREQUAL "check")
  file(READ ${LOG} output)
  string(REPLACE "\r" "" output "${output}")
  string(FIND "${output}" "[       OK ] ${NAME} (" passed)
  if(passed EQUAL -1)
    # What it printed, up to its own line of failure (which may name its parameter).
    string(FIND "${output}" "[ RUN      ] ${NAME}\n" start)
    set(printed "")
    if(start GREATER -1)
      string(SUBSTRING "${output}" ${start} -1 printed)
      string(FIND "${printed}" "[  FAILED  ] ${NAME}" end)
      string(SUBSTRING "${printed}" 0 ${end} printed)
    endif()
    message(FATAL_ERROR "${NAME} did not pass in ${LOG}\n${printed}")
  endif()
else()
  message(FATAL_ERROR "STEP must be list, run or check")
endif()

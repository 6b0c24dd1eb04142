# The portable suite as a Windows program run through the cross build's emulator (Wine),
# in three steps:
#   -DSTEP=list  after the link: lists the suite's tests through the emulator and writes
#                OUT, a ctest file that registers each of them;
#   -DSTEP=run   the ctest fixture: runs the whole suite into LOG, once unless a test
#                crashes: then its end is noted in LOG and the suite goes on after it;
#   -DSTEP=check each registered test: passes when LOG shows that the test NAME passed,
#                is skipped when it was skipped, and shows what it printed otherwise.
# Starting Wine for each of the suite's tests would take minutes, one run takes seconds,
# and ctest still counts and reports each test on its own, as it does GoogleTest's
# tests natively: a disabled test is not run, a skipped one is reported skipped. Wine
# runs in the prefix PREFIX, which no Wine lane shares.
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
      set(disabled FALSE)
      if(name MATCHES "(^|[./])DISABLED_")
        set(disabled TRUE)
      endif()
      string(APPEND script
        "add_test([=[${name}]=] [=[${CMAKE_COMMAND}]=] -DSTEP=check [=[-DNAME=${name}]=]"
        " [=[-DLOG=${LOG}]=] -P [=[${CMAKE_CURRENT_LIST_FILE}]=])\n"
        "set_tests_properties([=[${name}]=] PROPERTIES LABELS portable"
        " FIXTURES_REQUIRED portable_windows DISABLED ${disabled}"
        " SKIP_REGULAR_EXPRESSION [=[\\[  SKIPPED \\]]=])\n")
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
  # A test that crashes ends the program: the line "[  CRASHED ] <test> (<status>)" notes
  # it, and the suite starts again without the tests that ran, as long as one more ran.
  file(REMOVE ${LOG})
  set(ran "")
  set(filter "")
  while(TRUE)
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${filter} OUTPUT_VARIABLE output
      ERROR_VARIABLE errors RESULT_VARIABLE status)
    end_wine_session()
    string(REPLACE "\r" "" output "${output}")
    file(APPEND ${LOG} "${output}")
    if(output MATCHES "\n\\[==========\\] [^\n]* ran\\.")
      break()
    endif()
    string(REGEX MATCHALL "\\[ RUN      \\] [^\n]+" started "${output}")
    list(TRANSFORM started REPLACE "^\\[ RUN      \\] " "")
    list(LENGTH started count)
    if(count EQUAL 0)
      break()
    endif()
    # Ended in a test: the last one started, with no result after its start.
    list(GET started -1 crashed)
    string(FIND "${output}" "[ RUN      ] ${crashed}\n" last REVERSE)
    string(SUBSTRING "${output}" ${last} -1 after)
    if(after MATCHES "\n\\[  (     OK |FAILED  |SKIPPED )\\] ")
      break()
    endif()
    file(APPEND ${LOG} "\n[  CRASHED ] ${crashed} (${status})\n")
    list(APPEND ran ${started})
    list(JOIN ran ":" filter)
    set(filter "--gtest_filter=-${filter}")
  endwhile()
  file(STRINGS ${LOG} failed REGEX "^\\[  (FAILED  |CRASHED )\\] .* \\([-0-9a-zA-Z ]+\\)$")
  file(STRINGS ${LOG} summary REGEX "^\\[==========\\] .* ran\\.")
  list(JOIN failed "\n" failed)
  message("${summary}\n${failed}\nthe whole output: ${LOG}")
  # Failed and crashed tests fail on their own; a run that ended outside a test leaves
  # the results of those after it unknown.
  if(NOT summary)
    message(FATAL_ERROR "the suite did not run to its end (${status}):\n${errors}")
  endif()
elseif(STEP STREQUAL "check")
  file(READ ${LOG} output)
  string(FIND "${output}" "[       OK ] ${NAME} (" passed)
  if(passed EQUAL -1)
    # What it printed, up to the next line of a result: its own.
    string(FIND "${output}" "[ RUN      ] ${NAME}\n" start)
    set(printed "")
    if(start GREATER -1)
      string(SUBSTRING "${output}" ${start} -1 printed)
      string(REGEX MATCH "\n\\[  (FAILED  |SKIPPED |CRASHED )\\] [^\n]*" result "${printed}")
      if(result)
        string(FIND "${printed}" "${result}" end)
        string(LENGTH "${result}" length)
        math(EXPR end "${end} + ${length}")
        string(SUBSTRING "${printed}" 0 ${end} printed)
      endif()
    endif()
    if(printed MATCHES "\n\\[  SKIPPED \\] [^\n]*$")
      message("${printed}")
    else()
      message(FATAL_ERROR "${NAME} did not pass in ${LOG}\n${printed}")
    endif()
  endif()
else()
  message(FATAL_ERROR "STEP must be list, run or check")
endif()

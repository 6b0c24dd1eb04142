# Native build: the portable core's tests against fakes and the emulated unit.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(orvanta_tests
  tests/catalogue_test.cpp
  tests/emulator_scenario_test.cpp
  tests/emulator_unit_test.cpp
  tests/firmware_image_file_test.cpp
  tests/link_discovery_test.cpp
  tests/link_framing_test.cpp
  tests/link_pause_test.cpp
  tests/link_probe_test.cpp
  tests/shell_dialog_test.cpp
  tests/shell_picture_test.cpp
  tests/shell_presence_test.cpp
  tests/shell_version_panel_test.cpp
  tests/update_fault_storm_test.cpp
  tests/update_procedure_test.cpp
  tests/update_report_test.cpp
  tests/update_taskbar_test.cpp
  tests/virtual_unit_session_test.cpp
  # The virtual unit's host logic is portable and tested with the rest.
  virtual-unit/host/unit_session.cpp)
target_link_libraries(orvanta_tests PRIVATE orvanta_emulator orvanta_core orvanta_catalogue
  orvanta_generated_headers orvanta_build_flags GTest::gtest GTest::gtest_main)
target_compile_definitions(orvanta_tests PRIVATE
  ORVANTA_FIRMWARE_IMAGE_FILE="${ORVANTA_FIRMWARE_IMAGE_FILE}"
  ORVANTA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(orvanta_tests DISCOVERY_TIMEOUT 60)

# The troubleshooting pages quote every text the program shows as the catalogue has it.
add_test(NAME docs_troubleshooting
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_troubleshooting.py
          --catalogue ${CMAKE_SOURCE_DIR}/resources/catalogue.txt --tools ${CMAKE_SOURCE_DIR}/tools
          en=${CMAKE_SOURCE_DIR}/docs/troubleshooting.md
          de=${CMAKE_SOURCE_DIR}/docs/troubleshooting.de.md)
# Every relative link and anchor of the pages leads somewhere, every path, test, preset
# and identifier they name exists, and the map of the product files names every one of
# them; the check itself catches a rename of each kind in a scratch copy.
add_test(NAME docs_links
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_docs.py ${CMAKE_SOURCE_DIR})
add_test(NAME docs_links_catch_renames
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_docs_test.py ${CMAKE_SOURCE_DIR})

# Fuzzing and benchmarks live in folders of their own and add themselves when the
# tools for them are present. The fuzzer brings its own sanitizers, so the sanitizer
# build leaves it out.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt AND NOT ORVANTA_SANITIZE)
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

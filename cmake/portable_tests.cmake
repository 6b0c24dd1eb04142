# The GoogleTest suite of the portable code, against fakes and the emulated unit, and the
# docs checks. Built natively, and as a Windows program by the Windows builds: the
# program runs with a 32-bit long, a 16-bit wchar_t and msvcrt, where Linux has neither.
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

# The troubleshooting pages quote every text the program shows as the catalogue has it.
function(orvanta_docs_checks)
  add_test(NAME docs_troubleshooting
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_troubleshooting.py
            --catalogue ${CMAKE_SOURCE_DIR}/resources/catalogue.txt --tools ${CMAKE_SOURCE_DIR}/tools
            en=${CMAKE_SOURCE_DIR}/docs/troubleshooting.md
            de=${CMAKE_SOURCE_DIR}/docs/troubleshooting.de.md)
  # Every relative link and anchor of the pages leads somewhere, every path, test, preset
  # and identifier they name exists, and the map of the product files names every one of
  # them; the check itself catches a rename of each kind in a scratch copy.
  add_test(NAME docs_links
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_docs.py ${CMAKE_SOURCE_DIR})
  add_test(NAME docs_links_catch_renames
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_docs_test.py ${CMAKE_SOURCE_DIR})
endfunction()

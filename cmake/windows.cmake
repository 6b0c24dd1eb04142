# Windows build: the GUI program, its emulated-unit twin, and the tests that drive
# them under Wine.

# One self-contained file: libgcc, libstdc++ and winpthread linked in. ASLR with high
# entropy and DEP are the linker's defaults for 64-bit programs; they are named here so
# that no change of default drops them.
set(orvanta_windows_link_options -static -municode -mwindows
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)

# The product's code carries stack canaries. The guard and its failure handler come from
# the program itself (stack_guard_win32.cpp), not from libssp, which would import
# advapi32.dll; the flag is given to the compiler only, so the driver never links libssp.
set(orvanta_stack_protector -fstack-protector-strong)
add_library(orvanta_stack_guard STATIC ${CMAKE_SOURCE_DIR}/app/stack_guard_win32.cpp)
target_link_libraries(orvanta_stack_guard PRIVATE orvanta_build_flags)
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/stack_guard_win32.cpp
  PROPERTIES COMPILE_OPTIONS -fno-stack-protector)
target_compile_options(orvanta_core PRIVATE ${orvanta_stack_protector})
target_link_libraries(orvanta_core PUBLIC orvanta_stack_guard)

set(orvanta_win32_sources
  ${CMAKE_SOURCE_DIR}/app/main_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/dialog_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/live_region_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/single_instance_win32.cpp
  ${CMAKE_SOURCE_DIR}/link/clock_win32.cpp
  ${CMAKE_SOURCE_DIR}/link/system_libraries_win32.cpp
  ${CMAKE_SOURCE_DIR}/resources/program_resources_win32.cpp
  ${CMAKE_SOURCE_DIR}/update/progress_screen_win32.cpp
  ${CMAKE_SOURCE_DIR}/update/taskbar_win32.cpp)

# Only KnownDLLs are static imports; everything else comes from System32 at run time.
set(orvanta_system_imports setupapi user32 gdi32 kernel32)

# Both programs' shared sources, compiled once with the programs' own flags.
add_library(orvanta_win32 OBJECT ${orvanta_win32_sources})
target_link_libraries(orvanta_win32 PRIVATE orvanta_core orvanta_build_flags)
target_compile_options(orvanta_win32 PRIVATE ${orvanta_stack_protector})
target_compile_definitions(orvanta_win32 PRIVATE UNICODE _UNICODE)

# The shipped program talks through the system's HID stack.
add_executable(orvanta-updater WIN32
  $<TARGET_OBJECTS:orvanta_win32>
  ${CMAKE_SOURCE_DIR}/app/unit_bus_system_win32.cpp
  ${CMAKE_SOURCE_DIR}/link/hid_bus_win32.cpp
  $<TARGET_OBJECTS:orvanta_resources>)
target_link_libraries(orvanta-updater PRIVATE orvanta_core ${orvanta_system_imports}
  orvanta_build_flags)
target_link_options(orvanta-updater PRIVATE ${orvanta_windows_link_options})
target_compile_options(orvanta-updater PRIVATE ${orvanta_stack_protector})
target_compile_definitions(orvanta-updater PRIVATE UNICODE _UNICODE)

# The same program with the emulated programming unit in place of the HID bus.
add_executable(orvanta-updater-emulated WIN32
  $<TARGET_OBJECTS:orvanta_win32>
  ${CMAKE_SOURCE_DIR}/emulator/unit_bus_emulated_win32.cpp
  ${CMAKE_SOURCE_DIR}/emulator/emulated_host_win32.cpp
  $<TARGET_OBJECTS:orvanta_resources>)
target_link_libraries(orvanta-updater-emulated PRIVATE orvanta_emulator orvanta_core
  ${orvanta_system_imports} orvanta_build_flags)
target_link_options(orvanta-updater-emulated PRIVATE ${orvanta_windows_link_options})
target_compile_options(orvanta-updater-emulated PRIVATE ${orvanta_stack_protector})
target_compile_definitions(orvanta-updater-emulated PRIVATE UNICODE _UNICODE)

# Both programs' headers ask Windows to load them whole from the swap file when started
# from a network share or a removable drive, which may go away during an update. The
# linker has no option for these flags, and objcopy drops them; tools/pe_align.py sets
# them after every link, with the header checksum that covers them.
foreach(program orvanta-updater orvanta-updater-emulated)
  add_custom_command(TARGET ${program} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/pe_align.py $<TARGET_FILE:${program}>
    VERBATIM)
endforeach()

# The portable suite as a Windows program. The cross build compiles GoogleTest for the
# target from Debian's source package and runs the suite under Wine, building it with
# the preset rather than with `all` (tools/test.sh builds it beside the Wine tests); a
# build on Windows itself takes its toolchain's GoogleTest and runs the suite directly.
if(ORVANTA_RELEASE)
  # The release builds the program alone.
elseif(NOT ORVANTA_WINDOWS_HOST)
  set(ORVANTA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ORVANTA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # mingw-w64's win32 threads, as the program has them, give no std::mutex, which one
  # class of GoogleTest takes; a header of GoogleTest's own for such ports replaces it.
  target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/googletest-win32)
  include(${CMAKE_CURRENT_LIST_DIR}/portable_tests.cmake)
  set_target_properties(orvanta_tests PROPERTIES EXCLUDE_FROM_ALL ON)
  target_link_options(orvanta_tests PRIVATE -static)
  # The code under test is built as shipped. The tests and GoogleTest need no
  # optimisation, and the test files are compiled a few to a unit, which parses
  # GoogleTest's headers once per unit: half the time in all. A file whose names clash
  # with another's in a unit stands alone.
  foreach(target orvanta_tests gtest gtest_main)
    target_compile_options(${target} PRIVATE -O0)
  endforeach()
  set_target_properties(orvanta_tests PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 9)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/update_procedure_test.cpp
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)

  set(portable_step ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:orvanta_tests>
      -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DPREFIX=${CMAKE_BINARY_DIR}/wineprefix-portable
      -DLOG=${CMAKE_BINARY_DIR}/portable-tests.log)
  set(portable_tests ${CMAKE_BINARY_DIR}/portable-tests.ctest)
  add_custom_command(TARGET orvanta_tests POST_BUILD
    COMMAND ${portable_step} -DSTEP=list -DOUT=${portable_tests}
            -P ${CMAKE_CURRENT_LIST_DIR}/portable_windows.cmake
    VERBATIM)
  add_test(NAME portable_windows_run
    COMMAND ${portable_step} -DSTEP=run -P ${CMAKE_CURRENT_LIST_DIR}/portable_windows.cmake)
  # Labelled apart from the tests it runs, which `-L portable` selects with it.
  set_tests_properties(portable_windows_run PROPERTIES FIXTURES_SETUP portable_windows
    LABELS portable_run TIMEOUT 300)
  # Until the suite is built, one failing test stands for it.
  file(WRITE ${CMAKE_BINARY_DIR}/portable-tests-include.cmake
    "if(EXISTS [=[${portable_tests}]=])\n"
    "  include([=[${portable_tests}]=])\n"
    "else()\n"
    "  add_test(orvanta_tests_NOT_BUILT [=[${CMAKE_COMMAND}]=] -E false)\n"
    "  set_tests_properties(orvanta_tests_NOT_BUILT PROPERTIES LABELS portable)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/portable-tests-include.cmake)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  include(${CMAKE_CURRENT_LIST_DIR}/portable_tests.cmake)
  gtest_discover_tests(orvanta_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS portable)
  orvanta_docs_checks()
endif()

# Every test that runs Wine takes one Wine lane: a Wine prefix and an X display that no
# other test uses at the same time (tools/headless.sh). `ctest --preset windows` has one
# lane; tools/test.sh runs several side by side.
function(wine_lane)
  set_tests_properties(${ARGN} PROPERTIES RESOURCE_GROUPS wine_lane:1)
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()

# The release: reproducible, signed, hardened. Not built by the release itself, and
# checked with Linux tools and Wine only.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/release/CMakeLists.txt AND NOT ORVANTA_RELEASE
   AND NOT ORVANTA_WINDOWS_HOST)
  add_subdirectory(tests/release)
endif()

# The virtual programming unit inside Wine's HID stack, for tests of the real HID bus.
# Its drivers are built against Wine's headers and would need test signing on Windows.
if(EXISTS ${CMAKE_SOURCE_DIR}/virtual-unit/CMakeLists.txt AND NOT ORVANTA_WINDOWS_HOST)
  add_subdirectory(virtual-unit)
endif()

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

# The shipped program talks through the system's HID stack.
add_executable(orvanta-updater WIN32
  ${orvanta_win32_sources}
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
  ${orvanta_win32_sources}
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

# Every test that runs Wine takes one Wine lane: a Wine prefix and an X display that no
# other test uses at the same time (tools/headless.sh). `ctest --preset windows` has one
# lane; tools/test.sh runs several side by side.
function(wine_lane)
  set_tests_properties(${ARGN} PROPERTIES RESOURCE_GROUPS wine_lane:1)
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()

# The release: reproducible, signed, hardened. Not built by the release itself.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/release/CMakeLists.txt AND NOT ORVANTA_RELEASE)
  add_subdirectory(tests/release)
endif()

# The virtual programming unit inside Wine's HID stack, for tests of the real HID bus.
if(EXISTS ${CMAKE_SOURCE_DIR}/virtual-unit/CMakeLists.txt)
  add_subdirectory(virtual-unit)
endif()

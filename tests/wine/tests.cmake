# Windows tests of the emulated build: the dialog following the unit, and the update
# from the click to the second confirmation, a lost unit or a refused block. The whole
# stream into the ESC's flash runs against the virtual unit below.
set(emulated_program orvanta-updater-emulated)

foreach(lang en de)
  wine_test(wine_ready_${lang}_tunebox ${lang} ready ${emulated_program} tunebox)
  wine_test(wine_refused_at_start_${lang}_incompatible ${lang} refused-at-start
            ${emulated_program} incompatible)
  wine_test(wine_refused_at_start_${lang}_wrong_mode ${lang} refused-at-start
            ${emulated_program} wrong-mode)
  wine_test(wine_refused_at_start_${lang}_held ${lang} refused-at-start ${emulated_program}
            held)
endforeach()
wine_test(wine_ready_en_tunepad en ready ${emulated_program} tunepad)
wine_test(wine_refused_at_start_en_not_ready en refused-at-start ${emulated_program}
          not-ready)

foreach(equipment ready wrong-mode incompatible held)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_arrival_en_${suffix} en arrival ${emulated_program} ${equipment})
endforeach()
wine_test(wine_removal_en en removal ${emulated_program})
foreach(equipment wrong-mode incompatible ready no-unit)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_other_device_en_${suffix} en other-device ${emulated_program}
            ${equipment})
endforeach()

wine_test(wine_update_en_older_or_same en update-older-or-same ${emulated_program})
wine_test(wine_update_en_replugged_after_the_lock en update-replugged ${emulated_program})

# Under a user's hands: real clicks and keys, a second start, arrivals under a box.
foreach(lang en de)
  wine_test(wine_keyboard_after_removal_${lang} ${lang} keyboard-after-removal ${emulated_program})
endforeach()
wine_test(wine_second_copy_en en second-copy ${emulated_program})
foreach(lang en de)
  wine_test(wine_second_copy_hidden_${lang} ${lang} second-copy-hidden orvanta-updater)
endforeach()
wine_test(wine_second_copy_busy_en en second-copy-busy ${emulated_program})
wine_test(wine_arrivals_under_box_en en arrivals-under-box ${emulated_program})

# What a screen reader gets from the program.
target_sources(orvanta-wine-driver PRIVATE ${CMAKE_CURRENT_LIST_DIR}/scenario_accessibility.cpp)
target_link_libraries(orvanta-wine-driver PRIVATE oleacc ole32 oleaut32)
foreach(lang en de)
  wine_test(wine_accessibility_${lang} ${lang} accessibility orvanta-updater)
endforeach()

# The virtual unit lives in Wine's HID stack: a build on Windows itself goes no further.
if(ORVANTA_WINDOWS_HOST)
  return()
endif()

# The shipped program against the virtual unit in Wine's HID stack: the same scenarios,
# the unit found through SetupDi and talked to through the system's HID calls. The
# driver starts the unit's host on each scenario; tools/wine-run installs the drivers
# into the lane's Wine prefix when they are not in place yet.
set(virtual_unit_dir ${CMAKE_BINARY_DIR}/virtual-unit)

# virtual_unit_test(<name> <en|de> <scenario> [argument])
function(virtual_unit_test name lang scenario)
  wine_test(${name} ${lang} ${scenario} orvanta-updater ${ARGN})
  file(MAKE_DIRECTORY ${virtual_unit_dir}/run/${name})
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
    "ORVANTA_WINE_VIRTUAL_UNIT=${virtual_unit_dir}"
    "ORVANTA_VIRTUAL_UNIT_HOST=Z:${virtual_unit_dir}/orvanta-virtual-unit.exe"
    "ORVANTA_VIRTUAL_UNIT_DIR=Z:${virtual_unit_dir}/run/${name}")
endfunction()

foreach(lang en de)
  virtual_unit_test(real_bus_ready_${lang}_tunebox ${lang} ready tunebox)
  virtual_unit_test(real_bus_removal_${lang} ${lang} removal)
endforeach()
virtual_unit_test(real_bus_ready_en_tunepad en ready tunepad)
foreach(lengths 43-52 60-61 65-65)
  virtual_unit_test(real_bus_refused_lengths_${lengths} en refused-at-start lengths-${lengths})
endforeach()
virtual_unit_test(real_bus_arrival_en_incompatible en arrival incompatible)
# The whole update, compared with the image the build embedded (about a minute); a minimise
# posted meanwhile hides its success, and the flash for it is seen in Wine's messages.
virtual_unit_test(real_bus_update_en en update ${ORVANTA_FIRMWARE_IMAGE_FILE})
virtual_unit_test(real_bus_update_de_unplugged_at_block_940 de update-unplugged)
virtual_unit_test(real_bus_unit_falls_silent_en en unit-falls-silent)
virtual_unit_test(real_bus_write_hangs_en en write-hangs)
virtual_unit_test(real_bus_second_handle_en en second-handle)
# Wine's file trace of the program (its standard error) shows how it opens the unit.
set(open_trace ${virtual_unit_dir}/run/identify-then-open.stderr)
virtual_unit_test(real_bus_identify_then_open_en en identify-then-open ${open_trace})
set_property(TEST real_bus_identify_then_open_en APPEND PROPERTY ENVIRONMENT
  "ORVANTA_WINE_STDERR=${open_trace}")

# Keys and clicks given while the update holds the thread, and a removal it never heard.
foreach(lang en de)
  # Wine's stubs print the reason given to the system not to shut down.
  set(keys_stderr ${virtual_unit_dir}/run/keys-before-a-failure-${lang}.stderr)
  virtual_unit_test(real_bus_keys_before_a_failure_${lang} ${lang} keys-before-a-failure
                    ${keys_stderr})
  set_property(TEST real_bus_keys_before_a_failure_${lang} APPEND PROPERTY ENVIRONMENT
    "ORVANTA_WINE_STDERR=${keys_stderr}" "WINEDEBUG=fixme+all")
  virtual_unit_test(real_bus_input_and_pull_at_the_end_${lang} ${lang} input-and-pull-at-the-end)
  virtual_unit_test(real_bus_another_program_during_the_stream_${lang} ${lang}
                    another-program-during-the-stream)
endforeach()
virtual_unit_test(real_bus_replug_during_erase_en en replug-during-erase)
virtual_unit_test(real_bus_minimised_at_the_start_en en minimised-at-the-start)

# A session by keyboard alone. Wine's stubs of the taskbar list and of FlashWindowEx
# print their calls on the program's standard error.
foreach(lang en de)
  set(session_stderr ${virtual_unit_dir}/run/keyboard-session-${lang}.stderr)
  virtual_unit_test(real_bus_keyboard_session_${lang} ${lang} keyboard-session ${session_stderr})
  set_property(TEST real_bus_keyboard_session_${lang} APPEND PROPERTY ENVIRONMENT
    "ORVANTA_WINE_STDERR=${session_stderr}")
  set(unseen_stderr ${virtual_unit_dir}/run/outcome-unseen-${lang}.stderr)
  virtual_unit_test(real_bus_outcome_unseen_${lang} ${lang} outcome-unseen ${unseen_stderr})
  set_property(TEST real_bus_outcome_unseen_${lang} APPEND PROPERTY ENVIRONMENT
    "ORVANTA_WINE_STDERR=${unseen_stderr}")
endforeach()

# The whole streams and the five updates of another program's posts take longest: started
# first, none of them ends a lane's run alone.
set_tests_properties(real_bus_update_en real_bus_input_and_pull_at_the_end_en
  real_bus_input_and_pull_at_the_end_de real_bus_another_program_during_the_stream_en
  real_bus_another_program_during_the_stream_de PROPERTIES COST 100)

# The hint panel's name, where a screen reader's watcher reads it: Wine's oleacc prints it.
foreach(test wine_removal_en real_bus_removal_en real_bus_removal_de real_bus_update_en
    wine_accessibility_en wine_accessibility_de)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "ORVANTA_WINE_STDERR=${CMAKE_BINARY_DIR}/${test}.stderr" "WINEDEBUG=fixme+all")
endforeach()

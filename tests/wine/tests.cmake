# Windows tests of the emulated build: the dialog following the unit, and the update
# from the click to the ESC's flash. The update runs take about 45 s each.
set(emulated_program orvanta-updater-emulated)

foreach(lang en de)
  wine_test(wine_ready_${lang}_tunebox ${lang} ready ${emulated_program} tunebox)
  wine_test(wine_refused_at_start_${lang}_incompatible ${lang} refused-at-start
            ${emulated_program} incompatible)
  wine_test(wine_refused_at_start_${lang}_wrong_mode ${lang} refused-at-start
            ${emulated_program} wrong-mode)
endforeach()
wine_test(wine_ready_en_tunepad en ready ${emulated_program} tunepad)
wine_test(wine_refused_at_start_en_not_ready en refused-at-start ${emulated_program}
          not-ready)

foreach(equipment ready wrong-mode incompatible)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_arrival_en_${suffix} en arrival ${emulated_program} ${equipment})
endforeach()
wine_test(wine_removal_en en removal ${emulated_program})
foreach(equipment wrong-mode incompatible ready no-unit)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_other_device_en_${suffix} en other-device ${emulated_program}
            ${equipment})
endforeach()

# The update scenarios compare the ESC's flash with the image the build embedded.
wine_test(wine_update_en_no_second_box en update ${emulated_program}
          ${ORVANTA_FIRMWARE_IMAGE_FILE})
wine_test(wine_update_en_older_or_same en update-older-or-same ${emulated_program}
          ${ORVANTA_FIRMWARE_IMAGE_FILE})
wine_test(wine_update_de_unplugged_at_block_940 de update-unplugged
          ${emulated_program})
wine_test(wine_update_en_replugged_after_the_lock en update-replugged ${emulated_program})

# Under a user's hands: real clicks and keys, a second start, arrivals under a box.
foreach(lang en de)
  wine_test(wine_keyboard_after_removal_${lang} ${lang} keyboard-after-removal ${emulated_program})
endforeach()
wine_test(wine_second_copy_en en second-copy ${emulated_program})
wine_test(wine_arrivals_under_box_en en arrivals-under-box ${emulated_program})

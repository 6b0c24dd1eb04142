# Windows tests of the emulated build: the dialog following the unit, and the update
# from the click to the ESC's flash. The update runs take about 45 s each.
set(emulated_program orvanta-updater-emulated)

foreach(lang en de)
  if(lang STREQUAL "de")
    set(locale de_DE.UTF-8)
  else()
    set(locale en_US.UTF-8)
  endif()
  wine_test(wine_ready_${lang}_tunebox ${locale} ready ${emulated_program} tunebox)
  wine_test(wine_refused_at_start_${lang}_incompatible ${locale} refused-at-start
            ${emulated_program} incompatible)
  wine_test(wine_refused_at_start_${lang}_wrong_mode ${locale} refused-at-start
            ${emulated_program} wrong-mode)
endforeach()
wine_test(wine_ready_en_tunepad en_US.UTF-8 ready ${emulated_program} tunepad)
wine_test(wine_refused_at_start_en_not_ready en_US.UTF-8 refused-at-start ${emulated_program}
          not-ready)

foreach(equipment ready wrong-mode incompatible)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_arrival_en_${suffix} en_US.UTF-8 arrival ${emulated_program} ${equipment})
endforeach()
wine_test(wine_removal_en en_US.UTF-8 removal ${emulated_program})
foreach(equipment wrong-mode incompatible ready no-unit)
  string(REPLACE "-" "_" suffix ${equipment})
  wine_test(wine_other_device_en_${suffix} en_US.UTF-8 other-device ${emulated_program}
            ${equipment})
endforeach()

# The update scenarios compare the ESC's flash with the image the build embedded.
wine_test(wine_update_en_no_second_box en_US.UTF-8 update ${emulated_program}
          ${ORVANTA_FIRMWARE_IMAGE_FILE})
wine_test(wine_update_en_older_or_same en_US.UTF-8 update-older-or-same ${emulated_program}
          ${ORVANTA_FIRMWARE_IMAGE_FILE})
wine_test(wine_update_de_unplugged_at_block_940 de_DE.UTF-8 update-unplugged
          ${emulated_program})

# End-to-end cases of a full user dictionary and of lock entries that are no
# files: what the learned words go through. They need the built data
# (ime_cases.cmake sets ime_run).
if(NOT DEFINED ime_run)
  return()
endif()

# An import larger than the dictionary holds keeps the word learned before
# it and answers the number of its words the dictionary really kept (the
# saved file's count less the learned word); it used to answer every word
# and evict the learned one.
set(huge_dict "${CMAKE_CURRENT_BINARY_DIR}/huge_usr_dict.bin")
execute_process(COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/make_usr_dict.py" 300000 "${huge_dict}"
                RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "cannot write ${huge_dict}")
endif()
vetra_e2e(UsrDictHugeImportKeepsLearnedWordsAndCountsKeptOnes
  RUN ${ime_run} --home-file huge.bin "${huge_dict}" --expect-log "^REPLY\ttrue\t[0-9]+$"
      --check "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_import_count.py 1"
  DRIVE --timeout 120000 ${learn_ni} ${vetrapy} UsrDictImport s:@HOME@/huge.bin
        type ni cands expect-first 泥 key Escape --restart ${again} type ni cands expect-first 泥)

# A dictionary at its limit, full of words used five times or more, learns a
# chosen word: it is first after a restart (the trim used to evict it).
add_executable(vetra_make_full_usr_dict make_full_usr_dict.cpp)
target_include_directories(vetra_make_full_usr_dict PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(vetra_make_full_usr_dict PRIVATE vetra_userdict)
set(full_dict "${CMAKE_CURRENT_BINARY_DIR}/full_usr_dict.bin")
add_custom_command(OUTPUT "${full_dict}" COMMAND vetra_make_full_usr_dict "${full_dict}"
                   DEPENDS vetra_make_full_usr_dict)
add_custom_target(vetra_full_usr_dict ALL DEPENDS "${full_dict}")
vetra_e2e(UsrDictAtItsLimitLearnsAChosenWord
  RUN ${ime_run} --home-file .config/VetraPY/qzim_usr_v3new.bin "${full_dict}"
  DRIVE --timeout 60000 ${learn_ni} --restart ${again} type ni cands expect-first 泥)

# A FIFO and a folder where the lock files of the user dictionary's block and
# of the version manager belong are set aside: the input method loads, learns
# and keeps what it learned (it used to stay off, or show no learned word,
# until the user found and deleted them).
vetra_e2e(UsrDictLockEntriesThatAreNoFilesAreSetAside
  RUN ${ime_run} --home-make .vetrainput/UsrDict_MemLocker fifo
      --home-make .vetrainput/VetraIme_VersionManagerSharedTable__Lock dir
  DRIVE ${learn_ni} --restart ${again} type ni cands expect-first 泥)

# Two fcitx of one HOME (two sessions of one user): a removal in the first,
# which saves nothing more (killed), holds after the second, which still
# held the removed word, saves what it learned afterwards (it used to write
# the removed words back).
vetra_e2e(UsrDictRemovalHoldsBesideASecondFcitx
  RUN ${ime_run} --expect-log "^REPLY\ttrue$"
  DRIVE ${learn_ni} --on-second ${again} type ni cands expect-first 泥 key Escape
        --on-first ${again} ${vetrapy} UsrDictRemove type ni cands expect-first 你 key Escape
        --kill-on-second ${again} type zhong cands choose 种 expect-commit 种
        --restart ${again} type ni cands expect-first 你 key Escape type zhong cands expect-first 种)

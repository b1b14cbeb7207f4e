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
# Above the trim point, as the previous release's imports left a dictionary,
# and 100 of its words.
set(over_dict "${CMAKE_CURRENT_BINARY_DIR}/over_usr_dict.bin")
set(some_dict "${CMAKE_CURRENT_BINARY_DIR}/some_usr_dict.bin")
# More words than any release writes (720,000: a crafted or damaged file).
set(oversized_dict "${CMAKE_CURRENT_BINARY_DIR}/oversized_usr_dict.bin")
# A user's who committed 不是 (bu shi) once and then 1,000 other words.
set(learned_dict "${CMAKE_CURRENT_BINARY_DIR}/learned_usr_dict.bin")
add_custom_command(OUTPUT "${full_dict}" "${over_dict}" "${some_dict}" "${oversized_dict}"
                          "${learned_dict}"
                   COMMAND vetra_make_full_usr_dict "${full_dict}"
                   COMMAND vetra_make_full_usr_dict "${over_dict}" 300000
                   COMMAND vetra_make_full_usr_dict "${some_dict}" 100
                   COMMAND vetra_make_full_usr_dict "${oversized_dict}" 720000
                   COMMAND vetra_make_full_usr_dict "${learned_dict}" 1000 4e0d,662f:20,300
                   DEPENDS vetra_make_full_usr_dict)
add_custom_target(vetra_full_usr_dict ALL
                  DEPENDS "${full_dict}" "${over_dict}" "${some_dict}" "${oversized_dict}"
                          "${learned_dict}")
# 不是, committed once 1,000 words ago, still follows 我 and 他 (it fell
# below 不时, which has a pair with them, once about 110 words had been
# learned after it).
vetra_e2e(UsrDictAWordLearnedLongAgoFollowsTheWordBefore
  RUN ${ime_run} --home-file .config/VetraPY/qzim_usr_v3new.bin "${learned_dict}"
  DRIVE ${typing} type wo cands choose 我 expect-commit 我 type bushi cands expect-first 不是
        key Escape type ta cands choose 他 expect-commit 他 type bushi cands expect-first 不是)
vetra_e2e(UsrDictAtItsLimitLearnsAChosenWord
  RUN ${ime_run} --home-file .config/VetraPY/qzim_usr_v3new.bin "${full_dict}"
  DRIVE --timeout 60000 ${learn_ni} --restart ${again} type ni cands expect-first 泥)

# A dictionary of 300,000 words keeps every one through a start, typing, an
# import of 100 words it holds and Exit: each rebuild used to trim it
# (271,200 words after typing and Exit, and the import answered true while
# 57,500 words went). Only learning a new word trims it.
set(count_words "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_word_count.py")
vetra_e2e(UsrDictAboveTheTrimPointKeepsEveryWord
  RUN ${ime_run} --home-file .config/VetraPY/qzim_usr_v3new.bin "${over_dict}"
      --home-file some.bin "${some_dict}" --expect-log "^REPLY\ttrue\t100$"
      --check "${count_words} 300000"
  DRIVE --timeout 60000 ${typing} type ni cands expect-first 你 key Escape
        ${vetrapy} UsrDictImport s:@HOME@/some.bin type ni cands expect-first 你)

# A file of more words than any save writes keeps its 259,200 most used
# words, what learning keeps of the largest dictionary, the log saying how
# many went, and each of three sessions learns a word that stays: every save
# of it failed, and with it all that was learned, silently; then the file was
# kept at 576,000 words, so each session's first word trimmed it again and
# dropped the words learned once the session before (泥 and 视线).
vetra_e2e(UsrDictOversizedFileKeepsItsMostUsedWordsAndWhatEachSessionLearns
  RUN ${ime_run} --home-file .config/VetraPY/qzim_usr_v3new.bin "${oversized_dict}"
      --expect-fcitx-log "user dictionary: 460800 words dropped, 259200 kept"
      --check "${count_words} 259203"
  DRIVE --timeout 60000 ${learn_ni}
        --restart ${again} type shixian cands choose 视线 expect-commit 视线
        --restart ${again} type zhongguo cands choose 种过 expect-commit 种过
        --restart ${again} type ni cands expect-first 泥 key Escape
        type shixian cands expect-first 视线 key Escape type zhongguo cands expect-first 种过)
# Its saves take a minute under the sanitizers.
set_tests_properties(e2e.UsrDictOversizedFileKeepsItsMostUsedWordsAndWhatEachSessionLearns
                     PROPERTIES TIMEOUT 360)

# A restore of a backup of 287,999 words, one short of the trim point, gives
# back every word (the import's margin cut it to 272,000 and answered true).
vetra_e2e(UsrDictRestoreOfAFullBackupKeepsEveryWord
  RUN ${ime_run} --home-file full.bin "${full_dict}" --expect-log "^REPLY\ttrue$"
      --check "${count_words} 287999"
  DRIVE --timeout 60000 ${learn_ni} ${vetrapy} UsrDictRestore s:@HOME@/full.bin
        type ni cands expect-first 你)

# A FIFO and a folder where the lock files of the user dictionary's block and
# of the version manager belong are set aside: the input method loads, learns
# and keeps what it learned (it used to stay off, or show no learned word,
# until the user found and deleted them).
vetra_e2e(UsrDictLockEntriesThatAreNoFilesAreSetAside
  RUN ${ime_run} --home-make .vetrainput/UsrDict_MemLocker fifo
      --home-make .vetrainput/VetraIme_VersionManagerSharedTable__Lock dir
  DRIVE ${learn_ni} --restart ${again} type ni cands expect-first 泥)
# With every numbered set-aside name of the lock file taken as well (a link,
# folders holding the user's files), the FIFO goes to a name of its own and
# nothing is removed: the oldest folder used to be deleted with all it held
# (a file system mounted there was emptied), and when it could not be, the
# user dictionary stayed off and learned nothing.
set(crowded .vetrainput/UsrDict_MemLocker)
set(crowded_makes --home-make ${crowded}.aside link:/dev/null)
foreach(n RANGE 2 9)
  list(APPEND crowded_makes --home-file ${crowded}.aside.${n}/kept "${files}/env_without_setting.ini")
endforeach()
vetra_e2e(UsrDictLockEntryWithEverySetAsideNameTaken
  RUN ${ime_run} ${crowded_makes} --home-make ${crowded} fifo
      --check "sh ${CMAKE_CURRENT_SOURCE_DIR}/check_lock_set_aside.sh ${crowded}"
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

# Every user file is cut short (a sync tool, a bad copy) while fcitx runs,
# after 泥 was saved: the next save sets the damaged dictionary aside and
# writes the words held in memory in its place, told in one line, so 泥 and
# 视线, learned after the damage, are first after a restart. The save used to
# go on from an empty dictionary: 泥 was lost and the save answered true.
set(at "/.*/home/.config/VetraPY")
vetra_e2e(UsrDictCutShortUnderARunningFcitxIsWrittenFromMemory
  RUN ${ime_run}
      --expect-fcitx-log "^${at}/qzim_usr_v3new.bin: damaged, set aside as ${at}/Backup/qzim_usr_v3new\\.bin\\.refused\\.[0-9]{14}. written again from the words in memory$"
      --check "sh ${CMAKE_CURRENT_SOURCE_DIR}/check_log_lines.sh qzim_usr_v3new.bin.refused 1"
  DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 sleep 4000
        cut-files @HOME@/.config/VetraPY 4096
        type shixian cands choose 视线 expect-commit 视线 sleep 4000
        --restart ${again} type ni cands expect-first 泥 key Escape
        type shixian cands expect-first 视线)

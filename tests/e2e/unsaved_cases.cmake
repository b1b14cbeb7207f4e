# End-to-end cases of learning while another process holds the kernel's
# locks: what the learned words go through at fcitx's end. They need the
# built data (ime_cases.cmake sets ime_run).
if(NOT DEFINED ime_run)
  return()
endif()

# A process holds every lock of ~/.vetrainput (here the driver's, as a
# stopped one or an import stuck on a dead mount would) from 8 s after the
# second fcitx of the HOME and this one start until well after this one
# ended. This fcitx commits 4 words over 12 s, each save refused, and ends
# on SIGTERM (a logout) within 10 s: the 4 words go to a change file beside
# the dictionary, told in its log. Once the hold is over, the next start
# takes them into the dictionary, told too: all 4 come first and are in the
# file. They used to be lost without a word.
set(count_words "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_word_count.py")
set(usr_file "/.*/home/.config/VetraPY/qzim_usr_v3new.bin")
vetra_e2e(UnsavedWordsKeptOverAnEndWhileAnotherHoldsTheLocks
  RUN ${ime_run} --check "${count_words} 7"
      --expect-fcitx-log "^${usr_file}: 7 unsaved changes kept in ${usr_file}\\.unsaved\\.[0-9]+\\.[0-9a-f]{16} for the next start$"
      --expect-fcitx-log "^${usr_file}\\.unsaved\\.[0-9]+\\.[0-9a-f]{16}: 7 changes taken into ${usr_file}$"
  DRIVE ${typing} --beside-second --timeout 60000 note started sleep 8000 hold-locks @HOME@/.vetrainput
        sleep 30000 release-locks
        --on-first ${again} sleep 9000 type ni cands choose 泥 expect-commit 泥 sleep 4000
        type hao cands choose 号 expect-commit 号 sleep 4000 type ma cands choose 马 expect-commit 马
        sleep 4000 type zhong cands choose 种 expect-commit 种
        --term-restart --beside-second note held-no-more
        --on-first ${again} type ni cands expect-first 泥 key Escape type hao cands expect-first 号
        key Escape type ma cands expect-first 马 key Escape type zhong cands expect-first 种)

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

# The word learned during another fcitx's hold waits in a change file when
# a removal or a restore in that other fcitx, which has not taken the file
# in yet, replaces the words: it ends with the others, there and in every
# later start (the dictionary then holds none, or the 50 restored). The
# call used to take the file in itself, answer true, and 泥 came first.
# (A backup in the other fcitx before the hold takes up the files the
# first one saved as it started: it then has nothing to take up until the
# call, which finds the change file only as it attaches the new words.)
set(count_words "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_word_count.py")
foreach(replace "Remove;UsrDictRemove;0" "Restore;UsrDictRestore s:@HOME@/r.bin;50")
  list(GET replace 0 name)
  list(GET replace 1 call)
  separate_arguments(call)
  list(GET replace 2 words)
  vetra_e2e(ChangeFileEndedByA${name}InAnotherFcitx
    RUN ${ime_run} --home-file r.bin "${later_dict}" --check "${count_words} ${words}"
        --expect-fcitx-log "^${usr_file}: [0-9]+ unsaved changes? kept in ${usr_file}\\.unsaved\\.[0-9]+\\.[0-9a-f]{16} for the next start$"
        --expect-log "^REPLY\ttrue"
    DRIVE ${typing} --beside-second --timeout 60000 note started sleep 6000
          ${vetrapy} UsrDictBackup s:@HOME@/b.bin sleep 2000 hold-locks @HOME@/.vetrainput
          sleep 14000 release-locks
          --on-first ${again} sleep 9000 type ni cands choose 泥 expect-commit 泥 sleep 1000
          --term-restart --beside-second ${again} sleep 1000 ${vetrapy} ${call} sleep 2000
          type ni cands expect-first 你 key Escape note replaced
          --on-first ${again} sleep 1000 type ni cands expect-first 你 key Escape
          --restart ${again} type ni cands expect-first 你 key Escape)
endforeach()

# End-to-end cases of the lock files of ~/.vetrainput: one the user cannot
# open, another user's or a link, and a file lock the file system refuses.
# They need the built data (ime_cases.cmake sets ime_run).
if(NOT DEFINED ime_run)
  return()
endif()
set(count_words "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_word_count.py")
set(log_lines "sh ${CMAKE_CURRENT_SOURCE_DIR}/check_log_lines.sh")

# Lock files the user may not open (mode 000, as a chmod leaves them) are
# set aside, each said in one line, and new ones made: the input method
# converts, learns and keeps what it learned over a restart, in the file.
# Each used to be given up on: with the manager's or the version table's
# fcitx started without the kernel (no candidate); with the user
# dictionary's block alone it typed but learned nothing into the file. Root
# opens any file, so the run goes without that power (bound_by_modes.sh):
# the open truly fails.
foreach(case "ManagerTableAndBlock|DictManager_GlobalLocker UsrDict_MemLocker VetraIme_VersionManagerSharedTable__Lock"
             "BlockOnly|UsrDict_MemLocker")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 locks)
  separate_arguments(locks)
  set(lock_files)
  set(lock_checks)
  foreach(lock ${locks})
    list(APPEND lock_files .vetrainput/${lock})
    list(APPEND lock_checks
         --expect-fcitx-log "/home/.vetrainput/${lock}: lock file this user cannot open .Permission denied., set aside as /.*/home/.vetrainput/${lock}.aside$"
         --check "${log_lines} ${lock}.aside 1")
  endforeach()
  list(JOIN lock_files " " lock_files)
  vetra_e2e(LockFilesTheUserCannotOpenAreSetAside_${name}
    WRAP sh ${CMAKE_CURRENT_SOURCE_DIR}/bound_by_modes.sh
    RUN ${ime_run} --setup "sh ${CMAKE_CURRENT_SOURCE_DIR}/unopenable_files.sh ${lock_files}" ${lock_checks}
        --check "${count_words} 1"
    DRIVE ${learn_ni} --restart ${again} type ni cands expect-first 泥)
endforeach()

# A lock file of another user (0600, as a program run as root with the
# user's HOME leaves one) or a symbolic link in a lock file's place is set
# aside, said in one line naming the owner or the link, and a new one made:
# the input method converts, learns and keeps what it learned over a
# restart, in the file; the link's target (a file of the user) is left as
# it was. Each used to be refused: with the manager's lock fcitx started
# without the kernel (no candidate); with the user dictionary's block it
# learned nothing. The run goes bound by file modes, as the user is.
set(precious "${files}/env_without_setting.ini")
foreach(case "ForeignFile|DictManager_GlobalLocker|lock file of another user .uid 12345."
             "ForeignFile|UsrDict_MemLocker|lock file of another user .uid 12345."
             "Link|DictManager_GlobalLocker|lock file is a symbolic link")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 kind)
  list(GET case 1 lock)
  list(GET case 2 told)
  if(kind STREQUAL "Link")
    set(make --home-file precious "${precious}" --home-make .vetrainput/${lock} link:../precious
             --expect-file precious "${precious}")
  else()
    set(make --setup "sh ${CMAKE_CURRENT_SOURCE_DIR}/foreign_files.sh .vetrainput/${lock}")
  endif()
  vetra_e2e(LockEntriesOfAnotherUserOrLinksAreSetAside_${kind}_${lock}
    WRAP sh ${CMAKE_CURRENT_SOURCE_DIR}/bound_by_modes.sh
    RUN ${ime_run} ${make}
        --expect-fcitx-log "/home/.vetrainput/${lock}: ${told}, set aside as /.*/home/.vetrainput/${lock}.aside$"
        --check "${log_lines} ${lock}.aside 1" --check "${count_words} 1"
    DRIVE ${learn_ni} --restart ${again} type ni cands expect-first 泥)
endforeach()

# The file system refuses one file lock (lock_shim.c).
vetra_e2e_shim(vetra_e2e_lock lock_shim.c lock_preload)
# Two fcitx of one HOME; the file system refuses the second one file lock
# of the dictionary manager (ENOLCK, once; the second process of the run to
# ask for it, after the first phase's start). That hold guards the second
# alone, said in one line of its log, and its later holds let go again: the
# first learns a word that lasts over its restart, and its removal answers
# true. The second used to keep every later hold of that lock, so the
# first's saves were refused (the word lost at its exit) and so was the
# removal.
vetra_e2e(LockRefusedOnceInAnotherFcitxIsLetGoAgain
  RUN ${ime_run} ${lock_preload} --fcitx-env VETRA_REFUSE_LOCK=DictManager_GlobalLocker
      --fcitx-env VETRA_REFUSE_LOCK_IN=2
      --expect-log "^REPLY\ttrue$" --check "${log_lines} DictManager_GlobalLocker: 1 fcitx2.log"
  DRIVE --on-second ${again} type ni cands expect-first 你 key Escape
        --on-first --panel-mask ${VETRA_PANEL_MASK} ${learn_ni}
        --on-first ${again} type ni cands expect-first 泥 key Escape ${vetrapy} UsrDictRemove
        type ni cands expect-first 你)

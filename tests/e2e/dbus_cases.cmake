# End-to-end cases of the "/vetrapy" D-Bus object: a settings tool's calls
# through the driver's `call`, and what they do to the learned words. They
# need the input method running, hence the built data (ime_cases.cmake).
if(NOT DEFINED ime_run)
  return()
endif()
set(vetrapy call org.fcitx.Fcitx-0 /vetrapy org.fcitx.Fcitx.VetraPY)
# 泥 chosen for "ni" is the learned word; 你 comes first without it.
set(learn_ni ${typing} type ni cands choose 泥 expect-commit 泥 type ni cands expect-first 泥 key Escape)

# The introspection document parses as XML and declares the object's methods.
vetra_e2e(DBusIntrospect
  RUN ${ime_run} --check "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_introspect.py"
  DRIVE ${typing} call org.fcitx.Fcitx-0 /vetrapy org.freedesktop.DBus.Introspectable Introspect)
# A backup holds the learned word: after a removal (which lasts over a
# restart) restoring the backup brings it back, also over a restart.
vetra_e2e(DBusBackupRemoveRestore
  RUN ${ime_run} --expect-log "^REPLY\ttrue\t1$" --expect-log "^REPLY\ttrue$" --expect-nonempty b.bin
  DRIVE ${learn_ni} ${vetrapy} UsrDictBackup s:@HOME@/b.bin ${vetrapy} UsrDictRemove
        type ni cands expect-first 你 key Escape
        --restart ${again} type ni cands expect-first 你 key Escape ${vetrapy} UsrDictRestore s:@HOME@/b.bin
        type ni cands expect-first 泥 key Escape --restart ${again} type ni cands expect-first 泥)
# Importing the backup into the emptied dictionary counts its word.
vetra_e2e(DBusImportCountsWords
  RUN ${ime_run} --expect-log "^REPLY\ttrue\t1$"
  DRIVE ${learn_ni} ${vetrapy} UsrDictBackup s:@HOME@/b.bin ${vetrapy} UsrDictRemove
        ${vetrapy} UsrDictImport s:@HOME@/b.bin type ni cands expect-first 泥)
# Calls a settings tool could get wrong: a method without its file name and an
# unknown method get errors at once; an empty name and one too long for the
# kernel get false, with nothing written. fcitx keeps answering keys.
string(REPEAT a 1100 long_name)
vetra_e2e(DBusBadCallsAnswered
  RUN ${ime_run}
      --expect-log "^ERROR\torg.freedesktop.DBus.Error.UnknownMethod\t\"No such method with signature \\(\\)\"$"
      --expect-log "^REPLY\tfalse\t0$" --expect-log "^REPLY\tfalse$"
  DRIVE ${typing}
        expect-error org.freedesktop.DBus.Error.UnknownMethod ${vetrapy} UsrDictImport
        expect-error org.freedesktop.DBus.Error.UnknownMethod ${vetrapy} UsrDictFrobnicate
        ${vetrapy} UsrDictBackup s:@HOME@/${long_name} ${vetrapy} UsrDictRestore s:
        type ni cands expect-first 你)
# A file name that is no file (a FIFO, /dev/zero, a folder, a link to each)
# gets false from every call at once; a FIFO used to hold fcitx's main
# thread in open, so typing stopped. A relative name is refused too.
set(no_files fifo dir @HOME@/lfifo @HOME@/ldir @HOME@/lzero)
set(no_file_calls)
foreach(name ${no_files})
  if(NOT name MATCHES "^@HOME@")
    set(name @HOME@/${name})
  endif()
  list(APPEND no_file_calls ${vetrapy} UsrDictImport s:${name} ${vetrapy} UsrDictRestore s:${name}
       ${vetrapy} UsrDictBackup s:${name})
endforeach()
vetra_e2e(DBusFileNamesThatAreNoFilesAnswerFalse
  RUN ${ime_run} --home-make fifo fifo --home-make dir dir --home-make lfifo link:fifo
      --home-make ldir link:dir --home-make lzero link:/dev/zero
      --expect-log "^REPLY\tfalse\t0$" --expect-no-log "^REPLY\ttrue" --expect-no-log "^ERROR"
  DRIVE ${learn_ni} ${no_file_calls} ${vetrapy} UsrDictImport s:/dev/zero ${vetrapy} UsrDictRestore s:/dev/zero
        ${vetrapy} UsrDictBackup s:/dev/zero ${vetrapy} UsrDictBackup s:b.bin
        type ni cands expect-first 泥)
# A link in place of the backup folder is found before anything is removed:
# the removal answers false and the learned word stays (it used to delete
# the dictionary first, then follow the link).
vetra_e2e(DBusRemoveRefusesALinkedBackupFolder
  RUN ${ime_run} --home-make elsewhere dir --home-make .config/VetraPY/Backup link:../../elsewhere
      --expect-log "^REPLY\tfalse$"
  DRIVE ${learn_ni} ${vetrapy} UsrDictRemove type ni cands expect-first 泥 key Escape
        --restart ${again} type ni cands expect-first 泥)
# An import of a large file runs beside the typing: keys pressed meanwhile
# are answered within 100 ms, the answer comes with every word counted, and
# a word learned meanwhile is kept.
set(big_dict "${CMAKE_CURRENT_BINARY_DIR}/big_usr_dict.bin")
execute_process(COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/make_usr_dict.py" 150000 "${big_dict}"
                RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "cannot write ${big_dict}")
endif()
set(send_vetrapy send org.fcitx.Fcitx-0 /vetrapy org.fcitx.Fcitx.VetraPY)
vetra_e2e(DBusImportBesideTyping
  RUN ${ime_run} --home-file big.bin "${big_dict}" --expect-log "^REPLY\ttrue\t150000$"
  DRIVE --settle 40 --timeout 60000 ${typing} type ni key Escape expect-keys-under 60000
        ${send_vetrapy} UsrDictImport s:@HOME@/big.bin type ni cands choose 泥 expect-commit 泥
        type nihaonihao key Escape await-reply 3 expect-keys-under 100 type ni cands expect-first 泥)

# ---- Backups, reloads and stuck calls beside typing.
# With 150,000 user words, keys pressed during a backup and during a
# settings reload are answered quickly (the backup held the engine
# lock while it saved and copied, the reload saved on fcitx's main thread);
# a backup into a folder whose files never open (a dead mount, the shim's)
# holds no key up either, and fcitx still ends on Exit.
set(send_reload send org.fcitx.Fcitx-0 /inputmethod org.fcitx.Fcitx.InputMethod ReloadConfig)
# Measured 3-45 ms on a loaded machine (the old code: 600-900 ms); the
# bound leaves room for a busier one. The sanitizer build runs the kernel
# several times slower.
set(key_bound 150)
if(VETRA_SANITIZE)
  set(key_bound 500)
endif()
# Each backup and reload is made three times, a learning before each
# backup so that each one saves. A fault holds a key up at every call:
# saves or a reload that hold the engine lock or fcitx's main thread while
# they write cost a key 290-440 ms each time (8 cores at load 12); a backup
# that holds the lock over a target that never opens, every key after it.
# A busy machine delays a key now and then, not at every call: 825 ms once
# in a run of 120 keys; beside 16 busy loops and a disk writer, at most one
# key of a part over the bound (231 ms). So one key of each part may take
# the bound or more, and none 3 s: a key that waits seconds is a fault
# (the 5 s wait for a stuck lock holder is the shortest of them).
set(keys_quick expect-keys-mostly-under ${key_bound} 1 3000)
set(backup_beside_typing type ni cands choose 泥 expect-commit 泥 ${send_vetrapy} UsrDictBackup s:@HOME@/b.bin
    type nihaonihaonihao key Escape type nihaonihao key Escape await-reply 3)
set(reload_beside_typing ${send_reload} type nihaonihaonihao key Escape await-reply 0)
vetra_e2e(DBusBackupAndReloadBesideTyping
  RUN ${ime_run} ${stall_preload} --fcitx-env VETRA_STALL_DIR=stall --home-make stall dir
      --home-file big.bin "${big_dict}" --expect-log "^REPLY\ttrue\t150000$" --expect-log "^REPLY\ttrue\t1$"
      --expect-nonempty b.bin
  DRIVE --settle 40 --timeout 60000 ${typing} ${vetrapy} UsrDictImport s:@HOME@/big.bin
        type ni key Escape expect-keys-under 60000
        ${backup_beside_typing} ${backup_beside_typing} ${backup_beside_typing} ${keys_quick}
        ${send_vetrapy} UsrDictBackup s:@HOME@/stall/b.bin type nihaonihaonihao key Escape sleep 2000
        ${keys_quick}
        ${reload_beside_typing} ${reload_beside_typing} ${reload_beside_typing} ${keys_quick})
# An import or a restore stuck in a file system that stopped answering
# keeps fcitx from ending neither on SIGTERM nor on Exit (it waited for the
# call for ever); what was learned meanwhile is kept.
vetra_e2e(DBusStuckCallsDoNotHoldTheEnd
  RUN ${ime_run} ${stall_preload} --fcitx-env VETRA_STALL_DIR=stall --home-file stall/u.bin "${big_dict}"
  DRIVE ${typing} ${send_vetrapy} UsrDictImport s:@HOME@/stall/u.bin type ni cands choose 泥 expect-commit 泥
        --term-restart ${again} ${send_vetrapy} UsrDictRestore s:@HOME@/stall/u.bin type ni cands expect-first 泥
        key Escape --restart ${again} type ni cands expect-first 泥)
# A backup queued behind a call stuck in a file system that stopped
# answering goes on without it once that one has run 5 s (it waited,
# unanswered, until fcitx ended). fcitx's end then waits for the stuck call
# too and, as it does not end, leaves the engine to it (the end used to
# count only the queue's thread and free the engine under the stuck one);
# the word learned before is kept.
vetra_e2e(DBusBackupBehindAStuckCallGoesOn
  RUN ${ime_run} ${stall_preload} --fcitx-env VETRA_STALL_DIR=stall --home-make stall dir
      --expect-log "^REPLY\ttrue\t1$" --expect-nonempty b.bin
      --expect-fcitx-log "a user dictionary call is still running: fcitx ends without it"
  DRIVE ${learn_ni} ${send_vetrapy} UsrDictBackup s:@HOME@/stall/b.bin ${vetrapy} UsrDictBackup s:@HOME@/b.bin
        --restart ${again} type ni cands expect-first 泥)
# Calls that change the dictionary keep the order they were sent in: one
# sent 0.5 s after a call held 7 s in a slow folder is answered false once
# that one has run 5 s, with nothing changed, and the slow one lands. Each
# later call used to run, answer true, and then be undone by the slow one
# (or undo it: a removal before a backup left neither words nor backup).
#   restore, then an import: the restored 100 words, not the import's 50
#   restore, then a removal: the restored words stay
#   import, then a removal: the imported words stay
#   backup, then a removal: the backup is written, the learned word stays
set(slow_dict "${CMAKE_CURRENT_BINARY_DIR}/slow_usr_dict.bin")
set(later_dict "${CMAKE_CURRENT_BINARY_DIR}/later_usr_dict.bin")
foreach(made "100;${slow_dict};0" "50;${later_dict};100")
  list(GET made 0 words)
  list(GET made 1 out)
  list(GET made 2 first)
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/make_usr_dict.py" ${words} "${out}" ${first}
                  RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "cannot write ${out}")
  endif()
endforeach()
set(slow_run ${ime_run} ${stall_preload} --fcitx-env VETRA_STALL_DIR=stall --fcitx-env VETRA_STALL_MS=7000
    --home-file stall/r.bin "${slow_dict}" --home-file w.bin "${later_dict}" --home-make stall/out dir)
set(count_words "${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_word_count.py")
set(after_slow sleep 500)
vetra_e2e(DBusImportAfterASlowRestoreIsRefused
  RUN ${slow_run} --expect-log "^REPLY\tfalse\t0$" --expect-log "^REPLY\ttrue$" --check "${count_words} 100"
  DRIVE --timeout 60000 ${typing} ${send_vetrapy} UsrDictRestore s:@HOME@/stall/r.bin ${after_slow}
        ${vetrapy} UsrDictImport s:@HOME@/w.bin await-reply 0)
vetra_e2e(DBusRemovalAfterASlowRestoreIsRefused
  RUN ${slow_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue$" --check "${count_words} 100"
  DRIVE --timeout 60000 ${typing} ${send_vetrapy} UsrDictRestore s:@HOME@/stall/r.bin ${after_slow}
        ${vetrapy} UsrDictRemove await-reply 0)
vetra_e2e(DBusRemovalAfterASlowImportIsRefused
  RUN ${slow_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue\t100$" --check "${count_words} 100"
  DRIVE --timeout 60000 ${typing} ${send_vetrapy} UsrDictImport s:@HOME@/stall/r.bin ${after_slow}
        ${vetrapy} UsrDictRemove await-reply 0)
vetra_e2e(DBusRemovalAfterASlowBackupIsRefused
  RUN ${slow_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue\t1$" --expect-nonempty stall/out/b.bin
  DRIVE --timeout 60000 ${learn_ni} ${send_vetrapy} UsrDictBackup s:@HOME@/stall/out/b.bin ${after_slow}
        ${vetrapy} UsrDictRemove await-reply 0 type ni cands expect-first 泥)
# Two fcitx of one HOME (two sessions of one user) keep that order too: a
# call held in the second (its file on a slow mount, which answers once the
# first, started meanwhile, has answered a later change) is refused, with
# nothing of it done, and the later change stays. The held call used to
# land last, undoing the change answered true meanwhile. 泥 is learned
# first.
#   restore, then an import of 50 words: 泥 and the 50 words
#   restore, then a removal: no word
#   import, then a removal: no word
set(beside_run ${ime_run} ${stall_preload} --fcitx-env VETRA_STALL_DIR=stall --fcitx-env VETRA_STALL_UNTIL=stall.go
    --home-file stall/r.bin "${slow_dict}" --home-file w.bin "${later_dict}")
set(held_in_second --beside-second --timeout 60000 ${again} ${send_vetrapy})
set(then_in_first note held await-reply 0 --on-first ${again} ${vetrapy})
set(let_go touch @HOME@/stall.go)
vetra_e2e(DBusImportInAnotherFcitxAfterASlowRestore
  RUN ${beside_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue\t50$" --check "${count_words} 51"
  DRIVE ${learn_ni} ${held_in_second} UsrDictRestore s:@HOME@/stall/r.bin
        ${then_in_first} UsrDictImport s:@HOME@/w.bin ${let_go})
vetra_e2e(DBusRemovalInAnotherFcitxAfterASlowRestore
  RUN ${beside_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue$" --check "${count_words} 0"
  DRIVE ${learn_ni} ${held_in_second} UsrDictRestore s:@HOME@/stall/r.bin ${then_in_first} UsrDictRemove ${let_go})
vetra_e2e(DBusRemovalInAnotherFcitxAfterASlowImport
  RUN ${beside_run} --expect-log "^REPLY\tfalse\t0$" --expect-log "^REPLY\ttrue$" --check "${count_words} 0"
  DRIVE ${learn_ni} ${held_in_second} UsrDictImport s:@HOME@/stall/r.bin ${then_in_first} UsrDictRemove ${let_go})
# A backup held there behind a slow call keeps the order as well: the
# removal sent to the first after it has emptied the dictionary, so the
# backup writes nothing and answers false, and the earlier backup of 泥
# stays. It used to copy the emptied dictionary over it, answering true.
vetra_e2e(DBusBackupInAnotherFcitxAfterARemovalThere
  RUN ${beside_run} --expect-log "^REPLY\tfalse\t0$" --expect-log "^REPLY\ttrue$"
      --check "${count_words} 1 b.bin" --check "${count_words} 0"
  DRIVE ${learn_ni} ${vetrapy} UsrDictBackup s:@HOME@/b.bin
        ${held_in_second} UsrDictRestore s:@HOME@/stall/r.bin ${send_vetrapy} UsrDictBackup s:@HOME@/b.bin
        ${then_in_first} UsrDictRemove ${let_go})
# The count's lock file removed while the second runs (a user emptying
# ~/.vetrainput): the first, started after, makes a new one. The second
# notices, as it takes the lock, that the name holds another file: it opens
# that one and refuses its held restore, whose noted count can no longer be
# compared. It used to count in the removed file alone, and the restore
# undid the import, both answering true.
vetra_e2e(DBusImportInAnotherFcitxAfterTheCountFileWasRemoved
  RUN ${beside_run} --expect-log "^REPLY\tfalse$" --expect-log "^REPLY\ttrue\t50$" --check "${count_words} 51"
  DRIVE ${learn_ni} ${held_in_second} UsrDictRestore s:@HOME@/stall/r.bin
        remove @HOME@/.vetrainput/ImeKernel_UsrDictChanges
        ${then_in_first} UsrDictImport s:@HOME@/w.bin ${let_go})
# A removal and a restore in the first are seen by the second before its
# next conversion: 你 first for ni after the removal, 泥 again after the
# restore. The second used to offer the removed 泥 until it saved a word.
vetra_e2e(DBusRemovalAndRestoreInAnotherFcitxAreSeenAtOnce
  RUN ${ime_run} --expect-log "^REPLY\ttrue\t1$" --expect-log "^REPLY\ttrue$"
  DRIVE ${learn_ni} ${vetrapy} UsrDictBackup s:@HOME@/b.bin
        --on-second ${again} type ni cands expect-first 泥 key Escape
        --on-first ${again} ${vetrapy} UsrDictRemove
        --on-second ${again} type ni cands expect-first 你 key Escape
        --on-first ${again} ${vetrapy} UsrDictRestore s:@HOME@/b.bin
        --on-second ${again} type ni cands expect-first 泥)
# The lock files emptied, cut short or replaced by copies taken while held
# (every one of ~/.vetrainput), or the count's file removed, while two fcitx
# of one HOME run and the second types: neither dies nor stops answering
# keys; a removal and a restore in the first are seen by the second at its
# next conversion, and 泥 lasts over a restart of both. Each used to stop
# the second (a held copy: it waited for good at its next lock, keys
# unanswered), or leave it reading the removed count, offering the removed 泥.
set(lock_dir @HOME@/.vetrainput)
foreach(act "Removed|remove ${lock_dir}/ImeKernel_UsrDictChanges" "CutToNothing|cut-files ${lock_dir} 0"
            "CutShort|cut-files ${lock_dir} 20" "ReplacedByHeldCopies|held-copies ${lock_dir}")
  string(REPLACE "|" ";" act "${act}")
  list(POP_FRONT act what)
  separate_arguments(act)
  vetra_e2e(DBusLockFiles${what}BesideTwoFcitx
    RUN ${ime_run} --expect-log "^REPLY\ttrue\t1$" --expect-log "^REPLY\ttrue$"
    DRIVE ${learn_ni} ${vetrapy} UsrDictBackup s:@HOME@/b.bin
          --on-second ${again} type ni cands expect-first 泥 key Escape ${act}
          type ni cands choose 泥 expect-commit 泥 type ni cands expect-first 泥 key Escape
          --on-first ${again} type ni cands expect-first 泥 key Escape ${vetrapy} UsrDictRemove
          --on-second ${again} type ni cands expect-first 你 key Escape
          --on-first ${again} ${vetrapy} UsrDictRestore s:@HOME@/b.bin
          --on-second ${again} type ni cands expect-first 泥 key Escape --restart ${again}
          type ni cands expect-first 泥 key Escape
          --on-first ${again} type ni cands expect-first 泥)
endforeach()
# A process that holds every lock of ~/.vetrainput and never lets go (one
# stopped midway): a learning waits for it 5 s once, then keys are answered
# at once, a save included; a removal answers false with nothing done; and
# once the holder is gone, the words learned meanwhile are saved and kept
# over a restart. Each lock used to be waited for without end.
vetra_e2e(DBusLocksHeldByAStuckProcessHoldNoKeyUp
  RUN ${ime_run} --expect-log "^REPLY\tfalse$"
  DRIVE --timeout 30000 ${learn_ni} hold-locks @HOME@/.vetrainput
        type hao cands choose 号 expect-commit 号 expect-keys-under 8000 sleep 2000
        type nihaonihao key Escape type hao cands choose 号 expect-commit 号 sleep 2000
        type nihaonihao key Escape expect-keys-under ${key_bound} ${vetrapy} UsrDictRemove release-locks
        --restart ${again} type ni cands expect-first 泥 key Escape type hao cands expect-first 号)
# A backup never replaces the system's own files: a lock file (two fcitx of
# the user then no longer excluded each other), a new name in the lock
# folder, the live user dictionary, the key map, the version file and the
# accounts file get false and stay (each used to be replaced, answering
# true 1).
set(own_files .vetrainput/UsrDict_MemLocker .vetrainput/new.bin .config/VetraPY/qzim_usr_v3new.bin
    .config/VetraPY/qzim_keymap.bin .config/VetraPY/vetra.version .config/VetraPY.users/acc.dat)
set(own_backups)
foreach(file ${own_files})
  list(APPEND own_backups ${vetrapy} UsrDictBackup s:@HOME@/${file})
endforeach()
vetra_e2e(DBusBackupRefusesTheSystemsOwnFiles
  RUN ${ime_run} --expect-log "^REPLY\tfalse\t0$" --expect-no-log "^REPLY\ttrue"
  DRIVE ${learn_ni} ${own_backups} --restart ${again} type ni cands expect-first 泥)


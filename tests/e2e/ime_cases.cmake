# End-to-end cases of the input method itself: typing, the candidate list,
# commits and learning, on the built system data (skipped without it). The
# candidates come with the client-side UI signals (capacity 1), decoded with
# the panel mask; a phase after a restart names the mask again.
if(VETRA_DATA_BUILD_DIR)
  get_filename_component(ime_data "${VETRA_DATA_BUILD_DIR}/data/VetraInput" ABSOLUTE)
elseif(VETRA_BUILD_DATA)
  set(ime_data "${PROJECT_BINARY_DIR}/data/VetraInput")
else()
  return()
endif()
set(ime_run --own panel --own watchdog --fcitx-env VETRA_SYSTEM_DATA_DIR=${ime_data})
set(typing wait-fcitx ic caps 1 focusin enable)
set(again --panel-mask ${VETRA_PANEL_MASK} ${typing})

# "nihao" shows 你好 first and Space commits it; a digit on the page chooses.
vetra_e2e(ImeSpaceCommitsTheFirst
  RUN ${ime_run} --expect-log "^CANDS\t[0-9]+\t\"你好\""
  DRIVE ${typing} type nihao cands key space expect-commit 你好)
vetra_e2e(ImeDigitChoosesOnThePage
  RUN ${ime_run} DRIVE ${typing} type ni cands key 2 expect-commit-cand 2)
# With three candidates on a page "5" is input; "0" always is, and a digit
# turns conversion off: the letters stay, no candidate.
vetra_e2e(ImeDigitsBeyondThePageAreInput
  RUN ${ime_run} --page-size 3
      --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"ni5\"\t\"\""
      --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"ni0\"\t\"\""
  DRIVE ${typing} type ni key 5 expect-nocommit key Escape type ni key 0 cands expect-nocommit)
# The next and previous page keys move the highlight a page on and back:
# Space chooses the first candidate of the page shown.
vetra_e2e(ImePagingMovesTheHighlight
  RUN ${ime_run}
  DRIVE ${typing} type ni key = key - cands expect-first 你 key space expect-commit 你
        type ni key = cands key space expect-commit-cand 1)
# With the arrows not taken as page keys (fcitx's default takes them), Down
# and Up move the highlight one candidate.
vetra_e2e(ImeDownMovesTheHighlight
  RUN ${ime_run} --home-file .config/fcitx/config "${files}/fcitx_config_arrows_not_paging"
  DRIVE ${typing} type ni cands key Down key Down key Up key space expect-commit-cand 2)
# BackSpace right after a selection takes the selection back, not a letter.
vetra_e2e(ImeBackSpaceUndoesASelection
  RUN ${ime_run} --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"你hao\""
  DRIVE ${typing} type nihao cands choose 你 expect-nocommit key BackSpace cands expect-first 你好 key space
        expect-commit 你好)
# The cursor moved back behind "nihao": the candidates are those of "ma",
# and choosing one commits 你好 (the part before the cursor) with it.
vetra_e2e(ImeCursorPrefixCommitsWithTheChoice
  RUN ${ime_run} DRIVE ${typing} type nihaoma key Left cands expect-first 吗 key space expect-commit 你好吗)
# Enter commits the letters; the 65th letter is swallowed.
string(REPEAT a 64 letters64)
vetra_e2e(ImeEnterCommitsTheLetters
  RUN ${ime_run}
  DRIVE ${typing} type nihao key Return expect-commit nihao type ${letters64}a key Return expect-commit ${letters64})
# "v" alone stands as 〔〕; "u" alone shows nothing.
vetra_e2e(ImeVAndUAlone
  RUN ${ime_run} --expect-log "^CANDS\t1\t\"〔〕\"" --expect-log "^CANDS\t0"
  DRIVE ${typing} type v cands key Escape type u cands)
# Without the panel there are no candidates, and its watchdog is told.
vetra_e2e(ImeNoPanelNoCandidates
  RUN --own watchdog --fcitx-env VETRA_SYSTEM_DATA_DIR=${ime_data} --expect-log "^CANDS\t0"
      --expect-stub qtDbusSot_showMessage --expect-stub qtDbusSot_clearCount
  DRIVE ${typing} type nihao cands)
# The version file is written at start-up.
vetra_e2e(ImeVersionFileWritten
  RUN ${ime_run} --expect-nonempty .config/VetraPY/vetra.version DRIVE ${typing})

# Learning. A word chosen once comes first after a restart; from the 27th
# learning on each learning is saved while fcitx runs, so a kill (no Destroy)
# keeps it after 27 learnings and loses it after 26.
vetra_e2e(ImeLearnedWordSurvivesARestart
  RUN ${ime_run} DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 --restart ${again} type ni cands expect-first 泥)
foreach(learnings 26 27)
  math(EXPR fillers "${learnings} - 1")
  set(first 你)
  if(learnings EQUAL 27)
    set(first 泥)
  endif()
  set(commits)
  foreach(i RANGE 1 ${fillers})
    list(APPEND commits type hao key space)
  endforeach()
  vetra_e2e(ImeSavedWhileRunningAfter${learnings}Learnings
    RUN ${ime_run}
    DRIVE ${typing} type ni cands choose 泥 ${commits} sleep 3000 --kill-restart ${again} type ni cands expect-first ${first})
endforeach()
# A FIFO where the settings file belongs reads as a missing file: fcitx comes
# up and types (it used to wait in open for a writer that never came).
vetra_e2e(ImeStartsWithAFifoForTheSettingsFile
  RUN ${ime_run} --home-make .config/VetraPY/vetraEnv.ini fifo
  DRIVE ${typing} type nihao cands expect-first 你好)

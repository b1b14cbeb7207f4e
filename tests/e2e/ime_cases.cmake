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
# The version file holds the package version, written at start-up.
vetra_e2e(ImeVersionFileWritten
  RUN ${ime_run} --expect-content .config/VetraPY/vetra.version "[0-9]+(\\.[0-9]+)+" DRIVE ${typing})

# Learning. A word chosen once comes first after a restart, however fcitx
# ends: a kill 3 s after the choice; a kill right after focus-out (a close
# saves at once); SIGTERM right after the choice (fcitx's clean exit, as at
# logout).
vetra_e2e(ImeLearnedWordSurvivesARestart
  RUN ${ime_run} DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 --restart ${again} type ni cands expect-first 泥)
vetra_e2e(ImeLearnedWordSurvivesAKill
  RUN ${ime_run}
  DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 sleep 3000 --kill-restart ${again} type ni cands expect-first 泥)
vetra_e2e(ImeFocusOutSavesAtOnce
  RUN ${ime_run}
  DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 focusout --kill-restart ${again} type ni cands expect-first 泥)
vetra_e2e(ImeSigtermSaves
  RUN ${ime_run}
  DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 --term-restart ${again} type ni cands expect-first 泥)
# Learning that never pauses is saved all the same: 30 choices about half a
# second apart and a kill right after the last; the choices made seconds
# before the kill (the 1st, 10th and 20th) survive.
set(commits)
foreach(i RANGE 1 30)
  if(i EQUAL 1)
    list(APPEND commits type ni cands choose 泥)
  elseif(i EQUAL 10)
    list(APPEND commits type ma cands choose 马)
  elseif(i EQUAL 20)
    list(APPEND commits type zhong cands choose 种)
  else()
    list(APPEND commits type hao key space)
  endif()
endforeach()
vetra_e2e(ImeSavedWhileLearningGoesOn
  RUN ${ime_run}
  DRIVE ${typing} ${commits} --kill-restart ${again} type ni cands expect-first 泥 key Escape
        type ma cands expect-first 马 key Escape type zhong cands expect-first 种)

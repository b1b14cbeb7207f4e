# End-to-end cases of the input method itself: typing, the candidate list,
# commits and learning, on the built system data (skipped without it). The
# candidates come with the client-side UI signals (capacity 1), decoded with
# the panel mask; a phase after a restart names the mask again.
if(NOT VETRA_BUILT_SYSTEM_DIR)
  return()
endif()
set(ime_data "${VETRA_BUILT_SYSTEM_DIR}")
set(ime_run --own panel --own watchdog --fcitx-env VETRA_SYSTEM_DATA_DIR=${ime_data})
set(typing wait-fcitx ic caps 1 focusin enable)
set(again --panel-mask ${VETRA_PANEL_MASK} ${typing})

# "nihao" shows 你好 first and Space commits it; a digit on the page chooses.
vetra_e2e(ImeSpaceCommitsTheFirst
  RUN ${ime_run} --expect-log "^CANDS\t[0-9]+\t\"你好\""
  DRIVE ${typing} type nihao cands key space expect-commit 你好)
# Sentences of the technical text people type come out whole: 或 read
# "huo" is not 和, 标签页 is not 标签也, 私钥 is not 撕咬.
vetra_e2e(ImeTechnicalSentencesComeFirst
  RUN ${ime_run}
  DRIVE ${typing} type wenjianhuomulu cands key space expect-commit 文件或目录
        type xinjianbiaoqianyedakai cands key space expect-commit 新建标签页打开
        type siyaobucunzai cands key space expect-commit 私钥不存在)
# English words that people write among their Chinese come first where
# pinyin cannot begin them.
vetra_e2e(ImeEnglishWordsOfTheChineseTextComeFirst
  RUN ${ime_run}
  DRIVE ${typing} type shell cands expect-first shell key space expect-commit shell
        type samba cands expect-first samba)
# ta alone is 他, and so is the start of a sentence about a person; the
# technical text's 它 still follows a verb: 使用它.
vetra_e2e(ImeTaIsAPersonFirst
  RUN ${ime_run}
  DRIVE ${typing} type ta cands key space expect-commit 他
        type taxiangchifan cands key space expect-commit 他想吃饭
        type shiyongta cands key space expect-commit 使用它)
# Keys that read whole commit that reading, not a longer word that reads
# on (这件事情, 那就是说): Space never commits characters never typed.
vetra_e2e(ImeTypedReadingComesBeforeLongerWords
  RUN ${ime_run}
  DRIVE ${typing} type zhejianshi cands key space expect-commit 这件事
        type najiushi cands key space expect-commit 那就是)
vetra_e2e(ImeDigitChoosesOnThePage
  RUN ${ime_run} DRIVE ${typing} type ni cands key 2 expect-commit-cand 2)
# With three candidates on a page "5" is input; "0" always is, and a digit
# turns conversion off: the letters stay, no candidate.
vetra_e2e(ImeDigitsBeyondThePageAreInput
  RUN ${ime_run} --page-size 3
      --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"ni5\"\t\"\""
      --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"ni0\"\t\"\""
  DRIVE ${typing} type ni key 5 expect-nocommit key Escape type ni key 0 cands expect-nocommit)
# The next and previous page keys (fcitx's, and Page_Down and Page_Up) move
# the highlight a page on and back: Space chooses the first candidate of the
# page shown; the application never sees the keys.
foreach(keys "equal;=;-" "Page_Down;Page_Down;Page_Up")
  list(GET keys 0 name)
  list(GET keys 1 next)
  list(GET keys 2 prev)
  vetra_e2e(ImePagingMovesTheHighlight_${name}
    RUN ${ime_run} --expect-log "^KEY\t0x[0-9a-f]+\t0\tpress\t1\t" --expect-no-log "^KEY\t0x[0-9a-f]+\t0\tpress\t0\t"
    DRIVE ${typing} type ni key ${next} key ${prev} cands expect-first 你 key space expect-commit 你
          type ni key ${next} cands key space expect-commit-cand 1)
endforeach()
# With the arrows not taken as page keys (fcitx's default takes them), Down
# and Up move the highlight one candidate.
vetra_e2e(ImeDownMovesTheHighlight
  RUN ${ime_run} --home-file .config/fcitx/config "${files}/fcitx_config_arrows_not_paging"
  DRIVE ${typing} type ni cands key Down key Down key Up key space expect-commit-cand 2)
# The first page of five holds the first word of the reading: 我 chosen by
# its number, qu typed on, and Space commit 我想去. The common word of
# initials shows there too.
vetra_e2e(ImeFirstPageHoldsTheFirstWordAndCommonWords
  RUN ${ime_run}
  DRIVE ${typing} type woxiang cands choose 我 expect-nocommit type qu cands expect-first 想去 key space
        expect-commit 我想去 type bj cands expect-cand 北京)
# A lone vowel also begins the syllables without initial it starts, as an
# initial begins its syllables: aq gives 安全 first, and a vowel typed last
# gives the word it begins (fanga 方案, wana 晚安) first where the
# statistics favour it, with the vowel's own syllable on the page (行啊),
# and never after a composition that reads it begun too (hee 赫尔, not
# 和而). Inside the input it begins its syllables too (xianeyijian 显而易见).
vetra_e2e(ImeLoneVowelBeginsItsSyllables
  RUN ${ime_run}
  DRIVE ${typing} type aq cands expect-first 安全 key space expect-commit 安全
        type fanga cands expect-first 方案 key Escape type xinga cands expect-cand 行啊
        key Escape type wana cands expect-first 晚安 key Escape type hee cands expect-first 赫尔
        key Escape type xianeyijian cands expect-first 显而易见 key space expect-commit 显而易见)
# BackSpace right after a selection takes the selection back, not a letter.
vetra_e2e(ImeBackSpaceUndoesASelection
  RUN ${ime_run} --expect-log "UpdateClientSideUI\t[^\t]+\t\"\"\t\"\"\t\"你hao\""
  DRIVE ${typing} type nihao cands choose 你 expect-nocommit key BackSpace cands expect-first 你好 key space
        expect-commit 你好)
# The cursor moved back behind "nihao": the candidates are those of "ma",
# and choosing one commits 你好 (the part before the cursor) with it.
vetra_e2e(ImeCursorPrefixCommitsWithTheChoice
  RUN ${ime_run} DRIVE ${typing} type nihaoma key Left cands expect-first 吗 key space expect-commit 你好吗)
# Enter commits the letters; the 65th letter is refused with a notice.
string(REPEAT a 64 letters64)
vetra_e2e(ImeEnterCommitsTheLetters
  RUN ${ime_run} --expect-log "UpdateClientSideUI\t[^\t]+\t\"Input is full: 64 letters at most\""
  DRIVE ${typing} type nihao key Return expect-commit nihao type ${letters64}a key Return expect-commit ${letters64})
# Letters sent with Enter stand first on nothing they begin, also after a
# restart: one letter and pinyin are not learned as English words.
vetra_e2e(ImeLettersSentAsTypedLeadNothing
  RUN ${ime_run}
  DRIVE ${typing} type w key Return expect-commit w type wf cands expect-first 无法 key Escape
        type zhongguo key Return expect-commit zhongguo type zhongguo key Return expect-commit zhongguo
        type zhongg cands expect-first 中国 key Escape
        --restart ${again} type wf cands expect-first 无法 key Escape type zhongg cands expect-first 中国)
# An English list as an older version left it, with pinyin sent twice with
# Enter learned as an English word (zhongguo): the pinyin leads; a word of
# the list that is no pinyin (xkcd) still completes its beginning.
add_executable(vetra_make_eng_usr_dict make_eng_usr_dict.cpp)
target_include_directories(vetra_make_eng_usr_dict PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(vetra_make_eng_usr_dict PRIVATE vetra_lexicon)
set(old_eng_dict "${CMAKE_CURRENT_BINARY_DIR}/old_eng_usr_dict.bin")
add_custom_command(OUTPUT "${old_eng_dict}" COMMAND vetra_make_eng_usr_dict "${old_eng_dict}" zhongguo xkcd
                   DEPENDS vetra_make_eng_usr_dict)
add_custom_target(vetra_old_eng_usr_dict ALL DEPENDS "${old_eng_dict}")
vetra_e2e(ImePinyinLearnedAsEnglishBeforeLeadsNothing
  RUN ${ime_run} --home-file .config/VetraPY/qzim_eng_usr.bin "${old_eng_dict}"
  DRIVE ${typing} type xkc cands expect-first xkcd key Escape type zh cands expect-first 中 key Escape
        type zhongg cands expect-first 中国 key Escape type zhongguo cands expect-first 中国)
# Pinyin that begins an English word still reads as pinyin: dale shows 打了
# on the first page beside dale. An initial before a whole syllable is
# typed as meant: jjue gives 解决 first, the correction 绝 after it.
vetra_e2e(ImePinyinBeforeEnglishAndCorrections
  RUN ${ime_run}
  DRIVE ${typing} type dale cands expect-cand 打了 expect-cand dale key Escape
        type jjue cands expect-first 解决 expect-cand 绝 key Escape)
# "v" alone stands as 〔〕; "u" alone shows nothing, and Space then commits
# the letter; so it does for letters in raw mode after a digit.
vetra_e2e(ImeVAndUAlone
  RUN ${ime_run} --expect-log "^CANDS\t1\t\"〔〕\"" --expect-log "^CANDS\t0"
  DRIVE ${typing} type v cands key Escape type u cands key space expect-commit u
        type ni key KP_5 key space expect-commit ni5)
# After "v" digits and operators are input, from the number row or the
# keypad: the number and calculator candidates show and Space commits.
vetra_e2e(ImeNumbersAndCalculatorAfterV
  RUN ${ime_run}
  DRIVE ${typing} type v1234 cands expect-first 一千二百三十四 key space expect-commit 一千二百三十四
        type v1+2 cands expect-first 3 key space expect-commit 3
        key v key KP_1 key KP_2 key KP_3 key KP_4 key space expect-commit 一千二百三十四)
# Punctuation commits the composition, then the full-width mark; alone it
# is the mark; a point right after a digit stays a point (the application
# gets both keys).
vetra_e2e(ImePunctuation
  RUN ${ime_run} --expect-log "^KEY\t0x2e\t0\tpress\t0\t"
  DRIVE ${typing} type nihao, expect-commit 你好， type zaijian. expect-commit 再见。 key , expect-commit ，
        key 3 key . expect-nocommit)
# A panel that never answers does not hold up a commit (the panel is told
# to show again after it).
vetra_e2e(ImeHungPanelDoesNotHoldACommit
  RUN ${ime_run} --hang --expect-log "^KEY\t0x20\t0\tpress\t1\t([0-9]{1,2}|[1-2][0-9]{2})$"
  DRIVE ${typing} type ni key space expect-commit 你)
# Without the panel there are no candidates, and its watchdog is told.
vetra_e2e(ImeNoPanelNoCandidates
  RUN --own watchdog --fcitx-env VETRA_SYSTEM_DATA_DIR=${ime_data} --expect-log "^CANDS\t0"
      --expect-stub qtDbusSot_showMessage --expect-stub qtDbusSot_clearCount
  DRIVE ${typing} type nihao cands)
# The version file holds the package version, written at start-up: the
# package's file is the build's (the shim opens it in place of the
# installed one, which a test machine lacks).
include(GNUInstallDirs)
string(REPLACE "." "\\." version_ere "${PROJECT_VERSION}")
vetra_e2e(ImeVersionFileWritten
  RUN ${ime_run} ${stall_preload}
      --fcitx-env "VETRA_REDIRECT=${CMAKE_INSTALL_FULL_DATADIR}/vetrapinyin/vetra-version=${PROJECT_BINARY_DIR}/vetra-version"
      --expect-content .config/VetraPY/vetra.version "${version_ere}" DRIVE ${typing})
# A settings file that does not load is set aside once, a good one written
# in its place: typing works, and a restart neither fails nor copies again.
vetra_e2e(ImeDamagedSettingsFileSetAsideOnce
  RUN ${ime_run} --home-file .config/VetraPY/env.ini "${files}/env_without_setting.ini"
      --check "sh ${CMAKE_CURRENT_SOURCE_DIR}/check_env_set_aside.sh ${files}/env_without_setting.ini"
  DRIVE ${typing} type nihao cands expect-first 你好 --restart ${again} type nihao cands expect-first 你好)

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

# Typing on after a commit: the word committed raises its usual followers
# and decides between them (饭 after 吃; 水 after 喝, not 谁), and two
# short commits in a row are learned as one word too.
vetra_e2e(ImeTheLastCommitIsTheNextOnesContext
  RUN ${ime_run}
  DRIVE ${typing} type chi cands choose 吃 expect-commit 吃 type fan cands expect-first 饭 key Escape
        type ping cands choose 平 expect-commit 平 type chiping cands choose 吃平 expect-commit 吃平
        type he cands choose 喝 expect-commit 喝 type shui cands expect-first 水)
# A word chosen once for its syllable alone (谁 for shui, 要 for yao, the
# first 向 for xiang, the first 是 for shi) does not outweigh what the word
# before says for another: after 喝 shui is 水, after 吃 yao is 药, after
# 可能 xiang is 想, after 上海 shi is 市.
vetra_e2e(ImeAWordChosenOnceLetsTheWordBeforeDecide
  RUN ${ime_run}
  DRIVE ${typing} type xiang cands expect-first 向 key space expect-commit 向
        type keneng cands choose 可能 expect-commit 可能 type xiang cands expect-first 想
        key Escape type shi cands expect-first 是 key space expect-commit 是
        type shanghai cands choose 上海 expect-commit 上海 type shi cands expect-first 市
        key Escape type shui cands choose 谁 expect-commit 谁 type he cands choose 喝
        expect-commit 喝 type shui cands expect-first 水 key Escape
        type yao cands choose 要 expect-commit 要 type chi cands choose 吃 expect-commit 吃
        type yao cands expect-first 药)
# The word before raises the character it makes a word with: 跳舞, 时间.
vetra_e2e(ImeTheWordBeforeRaisesTheWordTheyMake
  RUN ${ime_run}
  DRIVE ${typing} type tiao cands choose 跳 expect-commit 跳 type wu cands expect-first 舞 key Escape
        type shi cands choose 时 expect-commit 时 type jian cands expect-first 间)
# A word typed whole ends where it was committed: after 工作, shi is 时,
# which follows it most, not 室 (gongzuoshi gives 工作室); 是 chosen there
# once is first there the next time.
vetra_e2e(ImeAWordTypedWholeEndsWhereItWasCommitted
  RUN ${ime_run}
  DRIVE ${typing} type gongzuo cands choose 工作 expect-commit 工作
        type shi cands expect-first 时 choose 是 expect-commit 是
        type gongzuo cands choose 工作 expect-commit 工作 type shi cands expect-first 是)
# After a longer word the character that makes a word with it follows it
# (特别 then shi is 是, 上海 then shi 市); after 我 or 他, bushi is the common
# 不是, read as 不 and 是 after the word before, not the rare 不时. A syllable
# typed whole stays one syllable (系统 then ao is 熬, not 啊哦), and common
# characters composed raise no word (完整 then yishi is 意识, not 一事).
vetra_e2e(ImeTheWordBeforeAndTheNextAsTheStatisticsReadThem
  RUN ${ime_run}
  DRIVE ${typing} type tebie cands choose 特别 expect-commit 特别 type shi cands expect-first 是
        key Escape type shanghai cands choose 上海 expect-commit 上海 type shi cands
        expect-first 市 key Escape type wo cands choose 我 expect-commit 我 type bushi cands
        expect-first 不是 key Escape type ta cands choose 他 expect-commit 他 type bushi cands
        expect-first 不是 key Escape type xitong cands choose 系统 expect-commit 系统
        type ao cands expect-first 熬 key Escape type wanzheng cands choose 完整
        expect-commit 完整 type yishi cands expect-first 意识)
# A FIFO where the settings file belongs reads as a missing file: fcitx comes
# up and types (it used to wait in open for a writer that never came).
vetra_e2e(ImeStartsWithAFifoForTheSettingsFile
  RUN ${ime_run} --home-make .config/VetraPY/vetraEnv.ini fifo
  DRIVE ${typing} type nihao cands expect-first 你好)

# QuanPin=0 with shuangpin off leaves no way to type: the input method is
# not loaded, and the log names the settings (it said only that the key map
# could not be built).
vetra_e2e(ImeNotLoadedWithoutAWayToType
  RUN ${ime_run} --home-file .config/VetraPY/env.ini "${files}/no_way_env.ini"
      --expect-log "^IM\t\"fcitx-keyboard-us\""
      --expect-fcitx-log "KeyPyMap: key map could not be attached or built: QuanPin=0 with ShuangPin=0 leaves no way to type"
  DRIVE ${typing} getim)
# Shuangpin with the default scheme, which types the final ing with ";"
# (0x3b): hry; is huan ying, olq; ai qing.
vetra_e2e(ImeShuangpinSemicolonTypesItsFinal
  RUN ${ime_run} --home-file .config/VetraPY/env.ini "${files}/shuangpin_env.ini"
      --home-file .config/VetraPY/vetraEnv.ini "${files}/shuangpin_front.ini"
  DRIVE ${typing} type hry key 0x3b cands expect-first 欢迎 key space expect-commit 欢迎
        type olq key 0x3b cands expect-first 爱情 key space expect-commit 爱情)
# With only the kernel's switch (env.ini), v is a key of the scheme too (小鹤
# types zhong guo vsgo): a digit on the page then chooses and ";" commits, as after any
# other letter (both went into the input as after the number mode's v);
# the capital V opens the number mode.
vetra_e2e(ImeShuangpinKernelSwitchAloneReadsVAsAKey
  RUN ${ime_run} --home-file .config/VetraPY/env.ini "${files}/shuangpin_kernel_xiaohe_env.ini"
  DRIVE ${typing} type vsgo cands expect-first 中国 key 0x3b expect-commit 中国；
        type vsgo cands key 3 expect-commit-cand 3
        type V6+7 cands expect-first 13 key space expect-commit 13)
# A fuzzy file of 110 ordinary pairs (each initial and final with its next
# two neighbours) needs several times the key map's default room: the input
# method comes up and types by it (xihuang reads xihuan), also after a
# settings reload rebuilt the map.
vetra_e2e(ImeLargeFuzzyFileKeepsTyping
  RUN ${ime_run} --home-file .config/VetraPY/Fuzzy.dat "${files}/fuzzy_neighbours.dat"
  DRIVE ${typing} type xihuang cands expect-first 喜欢 key space expect-commit 喜欢
        send org.fcitx.Fcitx-0 /inputmethod org.fcitx.Fcitx.InputMethod ReloadConfig sleep 500
        type xihuang cands expect-first 喜欢 key space expect-commit 喜欢)

# Whatever sits at the version file's old fixed temporary name is left
# alone: a FIFO there does not hold fcitx's start, and a link there is not
# followed (its target keeps its bytes); the version file is written all the same.
vetra_e2e(ImeStartsWithAFifoBesideTheVersionFile
  RUN ${ime_run} --home-make .config/VetraPY/vetra.version.tmp fifo
      --expect-content .config/VetraPY/vetra.version "[0-9]+(\\.[0-9]+)+"
  DRIVE ${typing} type nihao cands expect-first 你好)
vetra_e2e(ImeVersionFileFollowsNoPlantedLink
  RUN ${ime_run} --home-file .config/VetraPY/victim "${files}/env_without_setting.ini"
      --home-make .config/VetraPY/vetra.version.tmp link:victim
      --expect-file .config/VetraPY/victim "${files}/env_without_setting.ini"
      --expect-content .config/VetraPY/vetra.version "[0-9]+(\\.[0-9]+)+"
  DRIVE ${typing})
# ---- Commits that must not learn letters, keypad marks, SIGTERM without the
# cloud addon.
# A mark with the highlight on a candidate that covers part of the input
# does what Space, Space would: 中谷 for "zhonggu", the rest converted, then
# the mark. Enter after such a choice sends the letters as typed; neither
# learns a word holding them (中古oren used to stand first after a restart).
# (中谷偶人, committed so, is then the user's word for these keys.)
vetra_e2e(ImeMarkAfterAPartialChoiceConvertsTheRest
  RUN ${ime_run} --expect-no-log "^CANDS\t[0-9]+\t\"中谷oren\""
  DRIVE ${typing} type zhongguoren key Page_Down cands expect-first 中谷 key , expect-commit 中谷偶人，
        type zhongguoren key Page_Down cands choose 中谷 key Return expect-commit 中谷oren
        --restart ${again} type zhongguoren cands expect-first 中国人)
# The keypad's operators and point: input after "v" (v12 + 3 is 15), the
# main keyboard's marks beside pinyin; never handed on ahead of the text.
vetra_e2e(ImeKeypadOperatorsAreTyped
  RUN ${ime_run} --expect-no-log "^KEY\t0xffa[abdef]\t0\tpress\t0\t"
  DRIVE ${typing} type v12 key 0xffab key KP_3 cands expect-first 15 key space expect-commit 15
        type v6 key 0xffaa key KP_7 key 0xffad key KP_2 cands expect-first 40 key space expect-commit 40
        type ni key 0xffab expect-commit 你＋)
# SIGTERM saves the learning also with the cloud addon (which installed
# the signal's handler alone) disabled.
file(READ "${PROJECT_SOURCE_DIR}/src/fcitx/fcitx-vetracloudpinyin.conf" cloud_conf)
string(REPLACE "Enabled=True" "Enabled=False" cloud_conf "${cloud_conf}")
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/cloud_addon_disabled.conf" "${cloud_conf}")
vetra_e2e(ImeSigtermSavesWithoutTheCloudAddon
  RUN ${ime_run} --home-file .config/fcitx/addon/fcitx-vetracloudpinyin.conf
      "${CMAKE_CURRENT_BINARY_DIR}/cloud_addon_disabled.conf"
  DRIVE ${typing} type ni cands choose 泥 expect-commit 泥 --term-restart ${again} type ni cands expect-first 泥)

# A damaged settings file is told in one line of fcitx's log that names it
# and says what was done with it, never with its bytes, and typing goes on:
# the front end's vetraEnv.ini (iniparser printed four lines naming a
# /proc/self/fd path, the file's lines copied in), env.ini (moved into
# Backup with nothing said, later said without the prefix fcitx gives its
# other lines) and the user dictionary (a bare "attach false, remove
# UsrDict" beside the report line). Each start reads the file again
# on a reload: still one line. Cases: file|the line (ERE; "." stands for
# the line's semicolons, which would split the case).
if(NOT VETRA_BUILT_SYSTEM_DIR)
  return()
endif()
set(at "/.*/home/.config/VetraPY")
# fcitx's own prefix of a warning: "(WARN-<pid> <source>:<line>) ".
set(warned "\\(WARN-[0-9]+ [^ ]+:[0-9]+\\) ")
foreach(case
    "vetraEnv.ini|${at}/vetraEnv.ini: line 2 is neither a section nor a setting. the file is left as it is and every setting has its default$"
    "env.ini|^${warned}${at}/env.ini: it has no \\[Setting\\] section, moved to ${at}/Backup/env_[0-9]{8}_[0-9]{6}\\.ini. every setting is back to its default$"
    "qzim_usr_v3new.bin|^vetra kernel: UsrDict: ${at}/qzim_usr_v3new.bin: damaged, set aside as ${at}/Backup/qzim_usr_v3new\\.bin\\.refused\\.[0-9]{14}. started empty$")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 file)
  list(GET case 1 told)
  string(REGEX REPLACE "[^A-Za-z0-9]" "_" name "${file}")
  vetra_e2e(DamagedSettingsFileToldInOneLine_${name}
    RUN ${ime_run} --home-file .config/VetraPY/${file} "${files}/damaged_settings"
        --expect-fcitx-log "${told}"
        --expect-no-fcitx-log "RAW-BYTES|/proc/self/fd|iniparser|attach false"
        --check "sh ${CMAKE_CURRENT_SOURCE_DIR}/check_log_lines.sh ${file} 1"
    DRIVE ${typing} call org.fcitx.Fcitx-0 /inputmethod org.fcitx.Fcitx.InputMethod ReloadConfig
          type nihao cands expect-first 你好)
endforeach()

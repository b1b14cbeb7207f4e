# The project's own small system data, built into ${data_out}/VetraInput from
# the sources under data/custom (included by lexicon_extra_b.cmake, which
# defines vetra_lexicon_tables and extra_b_dir):
#   qzim_phrases.bin   system custom phrases, with date and time templates
#   qzim_quick.bin     char art hung on candidates, and the quick-input pages
#   qzim_urlGuide.bin  guides to common sites by word and by typed letters

# The build steps, only where the data is built (see data/CMakeLists.txt).
if(data_builds)
set(custom_sources "${PROJECT_SOURCE_DIR}/data/custom")
set(custom_files)
foreach(pair abbr:qzim_phrases:system-phrases quick:qzim_quick:char-art urlguide:qzim_urlGuide:url-guide)
  string(REPLACE ":" ";" parts "${pair}")
  list(GET parts 0 kind)
  list(GET parts 1 file)
  list(GET parts 2 source)
  add_custom_command(
    OUTPUT "${extra_b_dir}/${file}.bin"
    COMMAND vetra_lexicon_tables records ${kind} "${custom_sources}/${source}.tsv" "${extra_b_dir}/${file}.bin"
    DEPENDS vetra_lexicon_tables "${custom_sources}/${source}.tsv"
    COMMENT "Writing ${file}.bin from ${source}.tsv"
    VERBATIM)
  list(APPEND custom_files "${extra_b_dir}/${file}.bin")
endforeach()

add_custom_target(vetra_data_custom ALL DEPENDS ${custom_files})
install(FILES ${custom_files} DESTINATION share/fcitx-vetrapinyin/VetraInput)
endif()

if(VETRA_BUILD_TESTS AND data_builds)
  if(TARGET lexicon_tests)
    add_dependencies(lexicon_tests vetra_data_custom)
  endif()
  if(TARGET convert_tests)
    add_dependencies(convert_tests vetra_data_custom vetra_data_extra_b)
  endif()
endif()

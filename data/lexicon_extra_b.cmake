# System data of the string and small dictionaries, built into
# ${data_out}/VetraInput beside the compiled lexicon. Included by
# data/CMakeLists.txt after its fetch step (it uses data_out, data_cache,
# data_tools and the fetch manifest from there).
#
#   qzim_eng.bin            English words with frequencies (SCOWL size levels)
#   qzim_eng_pre.bin        English prediction keys: English words that the
#                           Chinese of the domain text writes in Latin letters
#                           and that pinyin cannot begin
#   qzim_url.bin            common sites and mail domains, checked against the
#                           public suffix list
#   qzim_tip.bin            pinyin tips of common words that read a character
#                           unusually (Unihan readings, the word statistics)
#   qzim_charvalid.bin      supported-character flags (Han needs GBK)
#   qzim_numFreqAdjust.bin  numeral list of the number-frequency table
#   punctures.ini           punctuation map (data/lexicon/punctures.ini)
#   qzim_infokey.bin, qzim_blackIfk.bin, qzim_smartInfo.bin,
#   qzim_adjcache.bin       valid tables without rows (README: what it does not do)
#
# Needs, besides the compiler: python3 and the fetch step's apt and
# dpkg-dev tools. Sources and licences: docs/data-sources-extra-b.md.

set(VETRA_DATA_ENGLISH_LEVEL "60" CACHE STRING "Largest SCOWL size level of the English word list")

set(extra_b_lexicon "${PROJECT_SOURCE_DIR}/data/lexicon")
set(extra_b_dir "${data_out}/VetraInput")
set(extra_b_manifest "${data_cache}/manifest-extra-b.tsv")
set(extra_b_packages scowl publicsuffix unicode-data)

add_executable(vetra_lexicon_tables "${data_tools}/lexicon_tables.cpp")
target_link_libraries(vetra_lexicon_tables PRIVATE vetra_lexicon)

# The build steps, only where the data is built (see data/CMakeLists.txt).
if(data_builds)
file(MAKE_DIRECTORY "${extra_b_dir}")

# After the main fetch, so that the two never unpack into the cache at once.
add_custom_command(
  OUTPUT "${extra_b_manifest}"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/fetch_sources.py"
          --cache "${data_cache}" --manifest "${extra_b_manifest}" ${extra_b_packages}
  DEPENDS "${data_tools}/fetch_sources.py" "${data_cache}/manifest.tsv"
  COMMENT "Fetching the word-list, suffix-list and script sources"
  VERBATIM)

add_custom_command(
  OUTPUT "${data_out}/english-words.tsv"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/english_words.py" --root "${data_cache}/root"
          --out "${data_out}/english-words.tsv" --max-level "${VETRA_DATA_ENGLISH_LEVEL}"
  DEPENDS "${extra_b_manifest}" "${data_tools}/english_words.py"
  COMMENT "Collecting the English word list"
  VERBATIM)

# The domain packages come with the main fetch (data/CMakeLists.txt).
add_custom_command(
  OUTPUT "${data_out}/english-keys.txt"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/english_keys.py" --root "${data_cache}/root"
          --english "${data_out}/english-words.tsv" --syllables "${syllables}"
          --out "${data_out}/english-keys.txt" ${domain_packages}
  DEPENDS "${data_cache}/manifest.tsv" "${data_out}/english-words.tsv" "${syllables}"
          "${data_tools}/english_keys.py" "${data_tools}/domain_adapt.py" "${data_tools}/coverage.py"
          "${data_tools}/check_syllables.py"
  COMMENT "Collecting the English words the Chinese text writes in Latin letters"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_eng_pre.bin"
  COMMAND vetra_lexicon_tables keys "${data_out}/english-keys.txt" "${extra_b_dir}/qzim_eng_pre.bin"
  DEPENDS vetra_lexicon_tables "${data_out}/english-keys.txt"
  COMMENT "Writing the English prediction keys"
  VERBATIM)

add_custom_command(
  OUTPUT "${data_out}/web-addresses.tsv"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/web_addresses.py" --sites "${extra_b_lexicon}/common-sites.txt"
          --mail "${extra_b_lexicon}/mail-domains.txt" --root "${data_cache}/root"
          --out "${data_out}/web-addresses.tsv"
  DEPENDS "${extra_b_manifest}" "${data_tools}/web_addresses.py" "${extra_b_lexicon}/common-sites.txt"
          "${extra_b_lexicon}/mail-domains.txt"
  COMMENT "Checking the web-address list against the public suffix list"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_eng.bin"
  COMMAND vetra_lexicon_tables strings eng "${data_out}/english-words.tsv" "${extra_b_dir}/qzim_eng.bin"
  DEPENDS vetra_lexicon_tables "${data_out}/english-words.tsv"
  COMMENT "Writing the English word table"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_url.bin"
  COMMAND vetra_lexicon_tables strings url "${data_out}/web-addresses.tsv" "${extra_b_dir}/qzim_url.bin"
  DEPENDS vetra_lexicon_tables "${data_out}/web-addresses.tsv"
  COMMENT "Writing the web-address table"
  VERBATIM)

add_custom_command(
  OUTPUT "${data_out}/pinyin-tips.tsv"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/pinyin_tips.py" --root "${data_cache}/root"
          --words "${data_out}/words.tsv" --unigrams "${data_out}/unigrams.tsv" --syllables "${syllables}"
          --out "${data_out}/pinyin-tips.tsv"
  DEPENDS "${extra_b_manifest}" "${data_tools}/pinyin_tips.py" "${data_tools}/normalise.py"
          "${data_out}/words.tsv" "${data_out}/unigrams.tsv" "${syllables}"
  COMMENT "Collecting the pinyin tips of words read unusually"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_tip.bin"
  COMMAND vetra_lexicon_tables records tip "${data_out}/pinyin-tips.tsv" "${extra_b_dir}/qzim_tip.bin"
  DEPENDS vetra_lexicon_tables "${data_out}/pinyin-tips.tsv"
  COMMENT "Writing the pinyin-tip table"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_numFreqAdjust.bin"
  COMMAND vetra_lexicon_tables numbers "${extra_b_lexicon}/numerals.txt" "${extra_b_dir}/qzim_numFreqAdjust.bin"
  DEPENDS vetra_lexicon_tables "${extra_b_lexicon}/numerals.txt"
  COMMENT "Writing the number-frequency table"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/qzim_charvalid.bin"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/support_chars.py" --root "${data_cache}/root"
          --out "${extra_b_dir}/qzim_charvalid.bin"
  DEPENDS "${extra_b_manifest}" "${data_tools}/support_chars.py"
  COMMENT "Writing the supported-character flags"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_b_dir}/punctures.ini"
  COMMAND "${Python3_EXECUTABLE}" "${data_tools}/make_punctures.py" --source "${extra_b_lexicon}/punctuation.tsv"
          --check "${extra_b_lexicon}/punctures.ini"
  COMMAND "${CMAKE_COMMAND}" -E copy "${extra_b_lexicon}/punctures.ini" "${extra_b_dir}/punctures.ini"
  DEPENDS "${data_tools}/make_punctures.py" "${extra_b_lexicon}/punctuation.tsv" "${extra_b_lexicon}/punctures.ini"
  COMMENT "Checking and copying the punctuation map"
  VERBATIM)

set(extra_b_files
  "${extra_b_dir}/qzim_eng.bin" "${extra_b_dir}/qzim_eng_pre.bin" "${extra_b_dir}/qzim_url.bin"
  "${extra_b_dir}/qzim_numFreqAdjust.bin"
  "${extra_b_dir}/qzim_charvalid.bin" "${extra_b_dir}/punctures.ini" "${extra_b_dir}/qzim_tip.bin")

# qzim_phrases.bin, qzim_urlGuide.bin and qzim_quick.bin are built from the
# project's own sources by lexicon_custom.cmake.
foreach(pair infokey:qzim_infokey infoblack:qzim_blackIfk smartinfo:qzim_smartInfo
             adjcache:qzim_adjcache)
  string(REPLACE ":" ";" parts "${pair}")
  list(GET parts 0 table)
  list(GET parts 1 file)
  add_custom_command(
    OUTPUT "${extra_b_dir}/${file}.bin"
    COMMAND vetra_lexicon_tables empty ${table} "${extra_b_dir}/${file}.bin"
    DEPENDS vetra_lexicon_tables
    COMMENT "Writing the empty table ${file}.bin"
    VERBATIM)
  list(APPEND extra_b_files "${extra_b_dir}/${file}.bin")
endforeach()

add_custom_target(vetra_data_extra_b ALL DEPENDS ${extra_b_files})
install(FILES ${extra_b_files} DESTINATION share/fcitx-vetrapinyin/VetraInput)
endif()

if(VETRA_BUILD_TESTS AND TARGET lexicon_tests)
  # The built-data tests of the lexicon read these files; without the data
  # build they skip.
  if(data_builds)
    add_dependencies(lexicon_tests vetra_data_extra_b)
  endif()
  add_test(NAME DataPunctuationMapIsCurrent
           COMMAND "${Python3_EXECUTABLE}" "${data_tools}/make_punctures.py"
                   --source "${extra_b_lexicon}/punctuation.tsv" --check "${extra_b_lexicon}/punctures.ini")
  add_test(NAME DataSystemFilesAttach
           COMMAND lexicon_tests --gtest_filter=BuiltSystemDataTest.*)
  set_tests_properties(DataSystemFilesAttach PROPERTIES ENVIRONMENT "VETRA_SYSTEM_DATA_DIR=${extra_b_dir}")
  vetra_test_temp(DataPunctuationMapIsCurrent DataSystemFilesAttach)
endif()

# System custom phrases, char art and web-address guides.
include(lexicon_custom.cmake)

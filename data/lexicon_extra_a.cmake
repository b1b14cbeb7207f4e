# System data of the stroke and radical annex (qzim_annex.bin) and of the
# traditional-form dictionary (qzim_tra.bin), included by data/CMakeLists.txt
# after its own steps (it uses data_tools, data_cache, data_out, syllables,
# timed and the fetched unicode-data and unigrams.tsv).
#
# Steps, each cached by its outputs:
#   1. fetch fcitx-pinyin (the stroke table) and OpenCC's tool, library and
#      dictionaries, after the main fetch (one apt-get at a time in the cache);
#   2. prepare the annex content from the stroke table, Unihan and the
#      character frequencies (annex-source.tsv), and compile it with the
#      kernel's own writer;
#   3. dump OpenCC's simplified-to-traditional tables and compile the trie.
# Same inputs, byte-identical outputs; the test DataExtraAIsReproducible
# rebuilds both files and compares them.

set(extra_a_packages fcitx-pinyin opencc libopencc1.1 libmarisa0)
set(extra_a_manifest "${data_cache}/manifest-extra-a.tsv")
set(extra_a_unicode "${data_cache}/root/unicode-data/usr/share/unicode")
set(extra_a_strokes "${data_cache}/root/fcitx-pinyin/usr/share/fcitx/py-enhance/py_stroke.mb")
set(extra_a_out "${data_out}/VetraInput")

add_executable(vetra_annex_build "${data_tools}/annex_build.cpp")
target_link_libraries(vetra_annex_build PRIVATE vetra_lexicon)

# The build steps, only where the data is built (see data/CMakeLists.txt).
if(data_builds)
file(MAKE_DIRECTORY "${extra_a_out}")

add_custom_command(
  OUTPUT "${extra_a_manifest}"
  COMMAND ${timed} fetch-extra-a -- "${Python3_EXECUTABLE}" "${data_tools}/fetch_sources.py"
          --cache "${data_cache}" --manifest "${extra_a_manifest}" ${extra_a_packages}
  DEPENDS "${data_cache}/manifest.tsv" "${data_tools}/fetch_sources.py" "${data_tools}/timed.py"
  COMMENT "Fetching and unpacking the stroke table and OpenCC"
  VERBATIM)

add_custom_command(
  OUTPUT "${data_out}/annex-source.tsv"
  COMMAND ${timed} annex-source -- "${Python3_EXECUTABLE}" "${data_tools}/annex_source.py"
          --strokes "${extra_a_strokes}" --unicode "${extra_a_unicode}" --syllables "${syllables}"
          --unigrams "${data_out}/unigrams.tsv" --out "${data_out}/annex-source.tsv"
  DEPENDS "${extra_a_manifest}" "${data_cache}/manifest.tsv" "${data_out}/unigrams.tsv"
          "${syllables}" "${data_tools}/annex_source.py"
  COMMENT "Preparing strokes, readings and radicals of the annex"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_a_out}/qzim_annex.bin"
  COMMAND ${timed} annex -- $<TARGET_FILE:vetra_annex_build>
          "${data_out}/annex-source.tsv" "${extra_a_out}/qzim_annex.bin"
  DEPENDS vetra_annex_build "${data_out}/annex-source.tsv"
  COMMENT "Compiling the stroke and radical annex"
  VERBATIM)

add_custom_command(
  OUTPUT "${extra_a_out}/qzim_tra.bin"
  COMMAND ${timed} traditional -- "${Python3_EXECUTABLE}" "${data_tools}/trad_build.py"
          --opencc-root "${data_cache}/root" --out "${extra_a_out}/qzim_tra.bin"
  DEPENDS "${extra_a_manifest}" "${data_tools}/trad_build.py"
  COMMENT "Compiling the traditional-form dictionary"
  VERBATIM)

set(extra_a_outputs "${extra_a_out}/qzim_annex.bin" "${extra_a_out}/qzim_tra.bin")
list(APPEND vetra_data_outputs ${extra_a_outputs})
add_custom_target(vetra_data_extra_a ALL DEPENDS ${extra_a_outputs})
install(FILES ${extra_a_outputs} DESTINATION share/fcitx-vetrapinyin/VetraInput)
endif()

if(VETRA_BUILD_TESTS)
  # The lexicon tests of built data read the files from the system data
  # directory (VETRA_BUILT_DATA_DIR, set with the main data build).
  if(TARGET lexicon_tests AND data_builds)
    add_dependencies(lexicon_tests vetra_data_extra_a)
  endif()
  # The committed letter-trigram table must be what the syllable list gives.
  add_test(NAME LetterTrigramTableIsCurrent
           COMMAND "${Python3_EXECUTABLE}" "${data_tools}/gen_letter_trigrams.py" --check)
  # The shipped shuangpin layouts against an independent copy of the same
  # public layouts, which the stroke package happens to carry.
  add_test(NAME DataShuangpinSchemesMatchAnOpenCopy
           COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tools/check_shuangpin_schemes.py"
                   "${data_cache}/root/fcitx-pinyin/usr/share/fcitx/pinyin/sp.dat")
  add_test(NAME DataExtraAIsReproducible
           COMMAND "${Python3_EXECUTABLE}" "${data_tools}/rebuild_compare.py"
                   "${extra_a_out}/qzim_annex.bin" --
                   $<TARGET_FILE:vetra_annex_build> "${data_out}/annex-source.tsv" "{out}"
                   --and "${extra_a_out}/qzim_tra.bin" --
                   "${Python3_EXECUTABLE}" "${data_tools}/trad_build.py"
                   --opencc-root "${data_cache}/root" --out "{out}")
  vetra_test_temp(LetterTrigramTableIsCurrent DataShuangpinSchemesMatchAnOpenCopy DataExtraAIsReproducible)
endif()

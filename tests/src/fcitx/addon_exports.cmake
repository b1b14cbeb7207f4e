# The addon library exports exactly what fcitx looks up, and the build's addon
# folder holds both addon .conf files naming it.
#   cmake -DNM=<nm> -DADDON_DIR=<dir> -P addon_exports.cmake
execute_process(COMMAND "${NM}" -D --defined-only "${ADDON_DIR}/fcitx-vetrapinyin.so"
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${ADDON_DIR}/fcitx-vetrapinyin.so")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${out}")
list(TRANSFORM names STRIP)
list(SORT names)
set(want ABI_VERSION fcitx_vetracloudpinyin_ABI_VERSION fcitx_vetracloudpinyin_module ime)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "exported: ${names}; expected only: ${want}")
endif()
foreach(conf fcitx-vetrapinyin.conf fcitx-vetracloudpinyin.conf)
  file(STRINGS "${ADDON_DIR}/${conf}" library REGEX "^Library=")
  if(NOT library STREQUAL "Library=fcitx-vetrapinyin.so")
    message(FATAL_ERROR "${conf}: '${library}' does not name the addon library")
  endif()
endforeach()

// Where the installed addon finds its files, fixed at build time from the
// install prefix, and the panel's decoding mask. Constants only.
#pragma once

namespace n_fcitx {

constexpr const char* kTextDomain = "fcitx-vetrapinyin";
// "<prefix>/share/locale"
constexpr const char* kLocaleDir = VETRA_LOCALE_DIR;
// "<prefix>/share/fcitx-vetrapinyin/VetraInput"; VETRA_SYSTEM_DATA_DIR in the
// environment overrides it (tests run on a build tree's data).
constexpr const char* kSystemDataDir = VETRA_INSTALLED_DATA_DIR;
constexpr const char* kSystemDataEnv = "VETRA_SYSTEM_DATA_DIR";
// "<prefix>/share/vetrapinyin/vetra-version": the package version's first line.
constexpr const char* kPackageVersionFile = VETRA_PACKAGE_VERSION_FILE;
// The version this addon was built as: what that file holds when installed.
constexpr const char* kBuildVersion = VETRA_PACKAGE_VERSION;
// The byte the panel program decodes candidate strings with.
constexpr unsigned char kPanelMask = VETRA_PANEL_MASK;

}  // namespace n_fcitx

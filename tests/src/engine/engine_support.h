// The engine tests' process-wide engine: started once over the built system
// data in a temporary HOME (removed at exit), plus helpers that read its
// candidates here and in a fresh process. One test thread.
#pragma once

#include <string>
#include <vector>

#include "src/engine/engine_iface.h"

struct t_engineDirs {
    std::string root;  // removed at exit
    std::string sys;   // the built system data
    std::string usr;   // the user's configuration directory handed to Init
    std::string data;  // usr + "/VetraPY": the user files
};

// The built system data directory (VETRA_SYSTEM_DATA_DIR); empty when unset.
std::string BuiltSystemDataDir();
// The engine after its one Init over the built data; null without built data
// or when Init failed (then InitFailed() is true).
IVetraCoreEngine* TheEngine();
bool InitFailed();
const t_engineDirs& EngineDirs();

// The texts of Convert's candidates, in order (no cloud request).
std::vector<std::string> Candidates(IVetraCoreEngine* engine, const std::string& input);
// The place of text among them, or -1.
int RankOf(const std::vector<std::string>& texts, const std::string& text);
// Runs the probe program (Init over sys and usr, then the candidates of
// input on its standard output, gathered in out): its exit status, 1 when
// Init failed, -1 when it could not run.
int RunProbe(const std::string& sys, const std::string& usr, const std::string& input,
             std::string* out);
// Candidates of the input seen by a second process over the same directories
// (saved files only); empty when it could not run.
std::vector<std::string> FreshProcessCandidates(const std::string& input);

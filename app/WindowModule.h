#pragma once

// The window lives in a library of its own, loaded only when a window is to be shown: a run without
// a display then maps no widget, GUI or X library. Its one exported symbol is the window's run.

namespace vela {

inline constexpr char kWindowModuleFile[] = "atualizavela-movel-janela.so";
inline constexpr char kWindowEntry[] = "atualizavela_movel_janela";

// Runs the program with its window, as main would: returns the exit status. The program has already
// answered --help and --version, kept its first argument and chosen its event loop.
using WindowEntry = int (*)(int argc, char** argv);

} // namespace vela

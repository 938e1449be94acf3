#pragma once

#include "app/Settings.h"

#include <QString>

#include <memory>
#include <optional>

namespace vela {

class TDMSistemaCadastro;

// Keeps argv[1] as the process got it. Call before the QApplication is made: Qt takes its own
// options (-reverse, -style ...) out of argv and out of the list it keeps, which would move a
// later argument into first place.
void keepFirstArgument(int argc, char** argv);
// The kept argv[1], or an empty text.
QString firstArgument();

// Qt's warnings about the environment it finds (a missing runtime folder on a scheduler's
// account) go nowhere: standard error carries only what the program itself reports. Every other
// Qt message goes where it went before.
void dropEnvironmentWarnings();

// The plain Unix event loop rather than glib's, unless QT_NO_GLIB says otherwise: the table copies
// process events once per row, and a round of glib's costs about a quarter more. Call before the
// QApplication is made.
void choosePlainEventLoop();

// The settings, or the reason they cannot be trusted; nothing is touched without them, the log
// file included.
std::optional<AppSettings> settingsOrReason(QString& reason);

// The data module for the databases the settings name.
std::unique_ptr<TDMSistemaCadastro> dataModule(const AppSettings& settings);

} // namespace vela

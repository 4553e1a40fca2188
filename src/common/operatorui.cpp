// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/operatorui.h"

#include "common/errors.h"
#include "common/files.h"

namespace veldra {

void saveAndOpen(const QString& path, const QStringList& lines, OperatorUi& ui)
{
    try {
        writeTextFile(path, lines, FileAccess::OwnerOnly);
    } catch (const std::exception& e) {
        ui.showMessage(errorDetails(e));
        return;
    }
    ui.openWithItsProgram(path);
}

}  // namespace veldra

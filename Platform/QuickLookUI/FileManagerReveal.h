// FileManagerReveal: shows a file in the desktop's file manager, selected, through the
// org.freedesktop.FileManager1 ShowItems call on the session bus; without a file manager that
// answers it (or without a bus), opens the file's folder with the desktop's default application.
#pragma once

#include <QString>

namespace FileManagerReveal {

// Returns false when neither way could be started.
bool reveal(const QString& path);

} // namespace FileManagerReveal

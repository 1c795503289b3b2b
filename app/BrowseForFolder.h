// The folder dialog shared by the windows.
#pragma once

#include <QString>

class QWidget;

// Lets the user choose a folder, starting at folder (or at root when folder does not exist).
// True with folder set to the chosen folder's full path ending in "/"; false when cancelled.
bool BrowseForFolder(QWidget *parent, const QString &title, const QString &root, QString &folder);

// The two ends of the dialog, apart for testing: the start folder as the dialog gets it
// (empty when it does not exist, else its full path) ...
QString BrowseStartFolder(const QString &folder);
// ... and a chosen folder as the caller gets it: a full path ending in "/", or empty for a
// choice that is no folder on disk.
QString BrowseResult(const QString &chosen);

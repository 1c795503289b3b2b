// The chosen output folder, made ready before a run rather than failing file by file.
#pragma once

#include <QString>

// True when folder is empty (outputs beside their inputs) or a folder the program may write
// into, made first when it is missing; otherwise false with error naming the folder and the reason.
bool PrepareOutputFolder(const QString &folder, QString &error);

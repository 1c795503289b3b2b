#include "app/BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString BrowseStartFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir())
        return {};
    return QDir::cleanPath(info.absoluteFilePath());
}

QString BrowseResult(const QString &chosen)
{
    const QFileInfo info(chosen);
    if (chosen.isEmpty() || !info.isDir())
        return {};
    QString path = QDir::cleanPath(info.absoluteFilePath());
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

bool BrowseForFolder(QWidget *parent, const QString &title, const QString &root, QString &folder)
{
    QString start = BrowseStartFolder(folder);
    if (start.isEmpty())
        start = BrowseStartFolder(root);
    // A modal dialog: the program's other windows take no input while it runs.
    const QString chosen = BrowseResult(QFileDialog::getExistingDirectory(
        parent, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks));
    if (chosen.isEmpty())
        return false;
    folder = chosen;
    return true;
}

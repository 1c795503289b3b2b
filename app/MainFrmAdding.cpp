// Files into the main window's list: the open dialog (several files, every media type the
// libraries read), File > Add folder, files and folders dropped from a file manager.
#include "app/MainFrm.h"

#include "app/FileDialogKeys.h"
#include "probe/MediaExtensions.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>

#include <utility>

void TfrmMain::OfferAllMediaFiles()
{
    if (AllMediaOffered_ || !Batch->EnsureLibraries())
        return; // without the libraries the two plain filters remain
    QStringList patterns;
    for (const std::string &extension : probe::MediaFileExtensions())
        patterns << QStringLiteral("*.") + QString::fromStdString(extension);
    QStringList filters = OpenDialog1->nameFilters();
    filters.prepend(QStringLiteral("All media files (%1)").arg(patterns.join(QLatin1Char(' '))));
    OpenDialog1->setNameFilters(filters);
    OpenDialog1->selectNameFilter(filters.first());
    AllMediaOffered_ = true;
}

QStringList TfrmMain::RunOpenDialog()
{
    OfferAllMediaFiles();
    QTimer::singleShot(0, OpenDialog1, [this] { MakeCompletionsAccept(OpenDialog1); }); // once it is up
    if (OpenDialog1->exec() != QDialog::Accepted)
        return {};
    return OpenDialog1->selectedFiles();
}

void TfrmMain::AddCommand()
{
    // During a run too: the rows wait, and the run takes them once what runs has ended.
    QStringList files = ChooseFiles ? ChooseFiles() : QStringList();
    files.removeAll(QString());
    if (!files.isEmpty()) {
        // The dialog opens where files were taken last, also after a start that did not end well.
        const QString folder = QFileInfo(files.first()).absolutePath();
        OpenDialog1->setDirectory(folder);
        if (ShownOnce_)
            ConfigIni.Write({{QStringLiteral("addDir"), folder}});
    }
    if (files.size() > 1) {
        QueueFiles(files); // from the event loop, so that the window paints meanwhile
        return;
    }
    if (files.isEmpty())
        return;
    Batch->AddFile(files.first());
    Batch->ShowRefusals();
}

void TfrmMain::ToolButton1Click() { AddCommand(); }
void TfrmMain::btnAddClick() { AddCommand(); }

void TfrmMain::QueueFiles(const QStringList &fileNames, std::function<void()> done)
{
    Batch->QueueFiles(fileNames, std::move(done));
}

void TfrmMain::AddFolderCommand()
{
    QString folder;
    if (ChooseFolder && ChooseFolder(QStringLiteral("Add Folder"), folder) && !folder.isEmpty())
        AddPaths({folder});
}

void TfrmMain::AddPaths(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    Batch->QueuePaths(paths);
}

QStringList TfrmMain::DroppedPaths(const QMimeData *data) const
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && QFileInfo::exists(url.toLocalFile()))
            paths << url.toLocalFile();
    return paths;
}

void TfrmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent *event)
{
    if (!DroppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent *event)
{
    const QStringList paths = DroppedPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    try {
        AddPaths(paths);
    } catch (...) {
        AppException(std::current_exception());
    }
}

// Output options of single rows: the options window opened for the selected rows, their own
// settings kept by the batch, and the mark such a row carries in the list.
#include "app/MainFrm.h"

#include "app/FileListColumns.h"
#include "app/OptionFrm.h"
#include "app/ToolImages.h"

#include "probe/AVProbe.h"

#include <QFileInfo>
#include <QFont>
#include <QTableWidget>

namespace {

constexpr int kOwnSettingsImage = 2;

} // namespace

void TfrmMain::RowOptionsCommand()
{
    // The run has its records already; the rows' list may not change while files are added.
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty() || RunActive() || Adding())
        return;
    QString error;
    if (!Batch->EnsureLibraries(&error)) {
        Message(QMessageBox::Warning, error);
        return;
    }
    const QString input = Batch->InputOfRow(rows.first());
    // A probe of the window's own: the batch's serves the adds, which go on from the event loop.
    TAVProbe probe;
    if (!probe.LoadFile(input.toStdString())) {
        Message(QMessageBox::Warning,
                QStringLiteral("\"%1\" cannot be read: %2").arg(input, QString::fromStdString(probe.LastErrMsg)));
        return;
    }
    TfrmOption dialog(this);
    dialog.setObjectName(QStringLiteral("frmRowOptions"));
    dialog.setWindowTitle(rows.size() == 1 ? QStringLiteral("Output Options - %1").arg(QFileInfo(input).fileName())
                                           : QStringLiteral("Output Options - %1 files").arg(rows.size()));
    dialog.LoadProbeInfo(&probe);
    dialog.ApplySettings(Batch->SettingsOfRow(rows.first()));
    const bool accepted = RunOptions && RunOptions(dialog) == QDialog::Accepted;
    const TOptionSettings chosen = dialog.Settings();
    dialog.LoadProbeInfo(nullptr);
    if (!accepted || RunActive())
        return;
    Batch->SetRowSettings(rows, chosen);
    UpdateCommands();
}

void TfrmMain::PanelSettingsCommand()
{
    if (RunActive())
        return;
    Batch->SetRowSettings(SelectedRows(), std::nullopt);
    UpdateCommands();
}

void TfrmMain::ShowRowSettingsMark(int row, bool own)
{
    QTableWidgetItem *item = lvFiles->item(row, kOutputColumn);
    if (!item)
        return;
    QFont font = item->font();
    font.setItalic(own);
    item->setFont(font);
    item->setIcon(own ? ToolImage(kOwnSettingsImage) : QIcon());
    const QString output = Batch->OutputFileList.value(row).FileName;
    item->setToolTip(own ? output + QStringLiteral("\nOwn output options: Action > Use Panel Settings gives this "
                                                   "file the panel's again.")
                         : output);
}

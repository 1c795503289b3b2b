// The file list as it reads: the columns' widths, the figures of a row (readable in the cell,
// exact in the tooltip) and the rows that grow to show why their file failed.
#include "app/MainFrm.h"

#include "app/FileListColumns.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdint>

namespace {

// Set on a Progress cell whose text wraps: its row is as high as the text needs.
constexpr int kWrapRole = Qt::UserRole + 1;

// Wraps a Progress text that is marked to wrap, from the top left, so that a failure's reason
// reads in full; others stay on one line.
class TWrapDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(kWrapRole).toBool()) {
            option->features |= QStyleOptionViewItem::WrapText;
            option->displayAlignment = Qt::AlignLeft | Qt::AlignTop;
        }
    }
};

} // namespace

void TfrmMain::SizeFileListColumns()
{
    QHeaderView *header = lvFiles->horizontalHeader();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1); // the columns' own widths rule, not the style's least
    for (int column = 0; column < kFileListColumnCount; ++column) {
        const bool shared = kFileListColumns[column].fit == cfShare;
        header->setSectionResizeMode(column, shared ? QHeaderView::Fixed : QHeaderView::Interactive);
        lvFiles->setColumnWidth(column, ColumnEntryWidth(column));
    }
    lvFiles->setItemDelegateForColumn(kProgressColumn, new TWrapDelegate(lvFiles));
    // Names that change (rows added or removed, outputs renamed) are fitted once the changes are in.
    auto *refit = new QTimer(lvFiles);
    refit->setSingleShot(true);
    refit->setInterval(0);
    connect(refit, &QTimer::timeout, this, [this] { FitColumnsToList(); });
    const QAbstractItemModel *model = lvFiles->model();
    connect(model, &QAbstractItemModel::dataChanged, refit, [refit](const QModelIndex &from) {
        if (from.column() <= kOutputColumn)
            refit->start();
    });
    connect(model, &QAbstractItemModel::rowsInserted, refit, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::rowsRemoved, refit, qOverload<>(&QTimer::start));
    connect(header, &QHeaderView::sectionResized, this, [this](int column) {
        if (kFileListColumns[column].fit != cfShare)
            FitColumnsToList();
        if (column == kProgressColumn)
            for (int row = 0; row < lvFiles->rowCount(); ++row)
                FitRowHeight(row);
    });
}

int TfrmMain::ColumnEntryWidth(int column) const
{
    const TFileListColumn &fit = kFileListColumns[column];
    // The style's text margins on both sides and the grid line.
    const int margins = 2 * (lvFiles->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lvFiles) + 1) + 1;
    const int entry = lvFiles->fontMetrics().horizontalAdvance(QString::fromLatin1(fit.entry)) + margins +
                      lvFiles->fontMetrics().averageCharWidth();
    return fit.fit == cfShare ? entry : std::max(entry, lvFiles->horizontalHeader()->sectionSizeHint(column));
}

void TfrmMain::FitColumnsToList()
{
    int figures = 0;
    for (int column = 0; column < kFileListColumnCount; ++column)
        if (kFileListColumns[column].fit != cfShare)
            figures += lvFiles->columnWidth(column);
    const int spare = lvFiles->viewport()->width() - figures;
    const int least[] = {ColumnEntryWidth(kTitleColumn), ColumnEntryWidth(kOutputColumn)};
    // What the longest names need (the rows in sight and a thousand more).
    const QAbstractItemView *view = lvFiles;
    const int need[] = {std::max(least[0], view->sizeHintForColumn(kTitleColumn)),
                        std::max(least[1], view->sizeHintForColumn(kOutputColumn))};
    int title = least[0];
    if (spare >= need[0] + need[1]) // each its names, and half of the rest
        title = need[0] + (spare - need[0] - need[1]) / 2;
    else if (spare >= least[0] + least[1]) // in proportion to the names, each at least its least
        title = std::clamp(static_cast<int>(static_cast<int64_t>(spare) * need[0] / (need[0] + need[1])), least[0],
                           spare - least[1]);
    // Below both leasts the list scrolls.
    lvFiles->setColumnWidth(kTitleColumn, title);
    lvFiles->setColumnWidth(kOutputColumn, std::max(least[1], spare - title));
}

void TfrmMain::ShowFigure(int row, int column, const QString &text, const QString &tip)
{
    if (QTableWidgetItem *item = lvFiles->item(row, column)) {
        item->setText(text);
        item->setToolTip(tip);
    }
}

void TfrmMain::ShowEndFigures(int row, TRowState state)
{
    if (row < 0 || row >= lvFiles->rowCount())
        return;
    if (state == rsAdded || state == rsWaiting) // to be converted again: nothing of an earlier run
        ShowFigure(row, kCurrentTimeColumn, QString(), QString());
    if (state == rsDone && row < Batch->OutputFileList.size()) {
        // What is on the disk now, tags and cover included, not what the encoder last reported.
        const QFileInfo output(Batch->OutputFileList[row].FileName);
        const qint64 size = output.isFile() ? output.size() : -1;
        ShowFigure(row, kCurrentSizeColumn, size < 0 ? QString() : SizeCellText(size),
                   size < 0 ? QString() : SizeExactText(size));
    } else {
        // A failed or stopped conversion leaves no output; a waiting one has none yet.
        ShowFigure(row, kCurrentSizeColumn, QString(), QString());
    }
    if (QTableWidgetItem *item = lvFiles->item(row, kProgressColumn))
        item->setData(kWrapRole, state == rsFailed);
    FitRowHeight(row);
}

void TfrmMain::FitRowHeight(int row)
{
    const int line = lvFiles->verticalHeader()->defaultSectionSize();
    const QModelIndex index = lvFiles->model()->index(row, kProgressColumn);
    if (!index.data(kWrapRole).toBool()) {
        if (lvFiles->rowHeight(row) != line)
            lvFiles->setRowHeight(row, line);
        return;
    }
    QStyleOptionViewItem option;
    option.initFrom(lvFiles);
    option.widget = lvFiles;
    option.rect = QRect(0, 0, lvFiles->columnWidth(kProgressColumn), line);
    const int needed = lvFiles->itemDelegateForColumn(kProgressColumn)->sizeHint(option, index).height() + 1;
    lvFiles->setRowHeight(row, std::max(line, needed));
}

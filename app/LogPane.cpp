#include "app/LogPane.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

// A long batch at the debug level writes many lines; the pane keeps the latest.
constexpr int kMaxLines = 100000;

} // namespace

TLogPane::TLogPane(QWidget *parent) : QDockWidget(QStringLiteral("Log"), parent)
{
    setObjectName(QStringLiteral("LogPane"));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    Lines = new QPlainTextEdit(body);
    Lines->setObjectName(QStringLiteral("LogLines"));
    Lines->setReadOnly(true);
    Lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    Lines->setMaximumBlockCount(kMaxLines);
    Lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(Lines, 1);
    auto *buttons = new QHBoxLayout;
    Details = new QCheckBox(QStringLiteral("&Details"), body);
    Details->setObjectName(QStringLiteral("LogDetails"));
    Details->setToolTip(QStringLiteral("Also the converter's and the media libraries' own lines"));
    buttons->addWidget(Details);
    CopyButton = new QPushButton(QStringLiteral("&Copy"), body);
    SaveButton = new QPushButton(QStringLiteral("&Save..."), body);
    buttons->addStretch(1);
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveButton);
    layout->addLayout(buttons);
    setWidget(body);

    connect(Details, &QCheckBox::toggled, this, &TLogPane::ShowAll);
    // At the end the pane stays at the end as lines come; scrolled up, it stays where it is.
    QScrollBar *bar = Lines->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar] {
        if (!Following_)
            FollowEnd_ = bar->value() >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar] {
        if (!FollowEnd_)
            return;
        Following_ = true;
        bar->setValue(bar->maximum());
        Following_ = false;
    });
    connect(CopyButton, &QPushButton::clicked, this, &TLogPane::CopyLines);
    connect(SaveButton, &QPushButton::clicked, this, &TLogPane::SaveLines);
    ChooseSaveFile = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Log"), QStringLiteral("velox.log"),
                                            QStringLiteral("Text files (*.log *.txt)"));
    };
    ShowError = [this](const QString &text) {
        QMessageBox::warning(this, QApplication::applicationDisplayName(), text);
    };
}

QString TLogPane::Shown(const TEntry &entry) const
{
    const QString text =
        entry.count > 1 ? QStringLiteral("%1 (%2 times)").arg(entry.text).arg(entry.count) : entry.text;
    return entry.file.isEmpty() ? text : QFileInfo(entry.file).fileName() + QStringLiteral(": ") + text;
}

void TLogPane::AddLine(const QString &file, const QString &text, bool detail)
{
    const bool shown = !detail || Details->isChecked();
    // The libraries say the same of every damaged frame: one line with its count.
    if (detail && !text.isEmpty() && !Entries_.empty()) {
        TEntry &last = Entries_.back();
        if (last.detail && last.file == file && last.text == text) {
            ++last.count;
            if (shown) {
                QTextCursor cursor(Lines->document()->lastBlock());
                cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                cursor.insertText(Shown(last));
            }
            return;
        }
    }
    Entries_.push_back({file, text, detail});
    if (Entries_.size() > static_cast<size_t>(kMaxLines))
        Entries_.pop_front();
    if (shown)
        Lines->appendPlainText(Shown(Entries_.back()));
}

void TLogPane::ShowAll()
{
    QStringList shown;
    for (const TEntry &entry : Entries_)
        if (!entry.detail || Details->isChecked())
            shown << Shown(entry);
    FollowEnd_ = true;
    Lines->setPlainText(shown.join(QLatin1Char('\n')));
    Lines->verticalScrollBar()->setValue(Lines->verticalScrollBar()->maximum());
}

QString TLogPane::Text() const { return Lines->toPlainText(); }

void TLogPane::CopyLines()
{
    const QString selected = Lines->textCursor().selectedText();
    // The selection marks its line ends with the paragraph separator.
    QApplication::clipboard()->setText(selected.isEmpty() ? Text()
                                                          : QString(selected).replace(QChar::ParagraphSeparator, '\n'));
}

void TLogPane::SaveLines()
{
    const QString name = ChooseSaveFile ? ChooseSaveFile() : QString();
    if (name.isEmpty())
        return;
    QSaveFile file(name);
    const QByteArray text = (Text() + QLatin1Char('\n')).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (ShowError)
            ShowError(QStringLiteral("The log could not be saved as \"%1\": %2").arg(name, file.errorString()));
    }
}

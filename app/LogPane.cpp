#include "app/LogPane.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
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
    CopyButton = new QPushButton(QStringLiteral("&Copy"), body);
    SaveButton = new QPushButton(QStringLiteral("&Save..."), body);
    buttons->addStretch(1);
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveButton);
    layout->addLayout(buttons);
    setWidget(body);

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

void TLogPane::AddLine(const QString &file, const QString &text)
{
    Lines->appendPlainText(file.isEmpty() ? text : QFileInfo(file).fileName() + QStringLiteral(": ") + text);
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

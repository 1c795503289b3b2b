// View > Log: the batch's and the converter's lines, each with the file it is about, to read,
// copy and save.
#pragma once

#include <QDockWidget>
#include <QString>

#include <functional>

class QPlainTextEdit;
class QPushButton;

class TLogPane : public QDockWidget {
    Q_OBJECT

public:
    explicit TLogPane(QWidget *parent = nullptr);

    // One line; file: the input it is about (shown by its name), empty for the batch's own.
    void AddLine(const QString &file, const QString &text);
    QString Text() const;
    // Copies every line, or the selected ones, to the clipboard.
    void CopyLines();
    // Asks where to save and writes the lines there; a failure is said in a box.
    void SaveLines();

    // The save dialog (empty when cancelled) and the message box, replaceable.
    std::function<QString()> ChooseSaveFile;
    std::function<void(const QString &)> ShowError;

    QPlainTextEdit *Lines;
    QPushButton *CopyButton, *SaveButton;
};

// View > Log: the batch's lines, each with the file it is about, to read, copy and save; with
// "Details" also the converter's and the media libraries' own lines, a line repeated at once
// shown once with its count. The pane follows new lines unless it was scrolled up.
#pragma once

#include <QDockWidget>
#include <QString>

#include <deque>
#include <functional>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

class TLogPane : public QDockWidget {
    Q_OBJECT

public:
    explicit TLogPane(QWidget *parent = nullptr);

    // One line; file: the input it is about (shown by its name), empty for the batch's own;
    // detail: shown only with "Details".
    void AddLine(const QString &file, const QString &text, bool detail = false);
    // The lines as shown.
    QString Text() const;
    // Copies every line, or the selected ones, to the clipboard.
    void CopyLines();
    // Asks where to save and writes the lines there; a failure is said in a box.
    void SaveLines();

    // The save dialog (empty when cancelled) and the message box, replaceable.
    std::function<QString()> ChooseSaveFile;
    std::function<void(const QString &)> ShowError;

    QPlainTextEdit *Lines;
    QCheckBox *Details;
    QPushButton *CopyButton, *SaveButton;

private:
    struct TEntry {
        QString file, text;
        bool detail = false;
        int count = 1; // how often it came in a row
    };
    QString Shown(const TEntry &entry) const;
    // Every line again, as "Details" now asks.
    void ShowAll();

    std::deque<TEntry> Entries_;
    bool FollowEnd_ = true;
    bool Following_ = false;
};

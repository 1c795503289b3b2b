// "Config.ini", the settings file that keeps the output folder between runs (section
// "FormConfig", key "dir") and the window's other choices beside it. It lives beside the program; when that folder
// cannot be written (a system-wide install) it lives in the user's configuration folder instead.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

class TConfigIni {
public:
    // programFolder: the program's own folder; userFolder: the fallback folder.
    TConfigIni(const QString &programFolder, const QString &userFolder);

    // The output folder kept; empty when there is none. Section names match whatever their case.
    QString ReadDir() const;
    // Keeps dir (also an empty one); false when neither place can be written.
    bool WriteDir(const QString &dir);
    // Any key of the section, as ReadDir reads "dir"; and several written at once, the others kept.
    QString Read(const QString &key) const;
    bool Write(const QList<QPair<QString, QString>> &values);

    // The file that is read and written now.
    QString FileName() const;
    QString ProgramFileName() const { return ProgramFile_; }
    QString UserFileName() const { return UserFile_; }

    // The user's configuration folder for this program.
    static QString DefaultUserFolder();

private:
    // Whether the file can be written where it is, or created there; nothing is left behind.
    static bool Writable(const QString &file);
    static bool WriteFile(const QString &file, const QList<QPair<QString, QString>> &values);

    QString ProgramFile_;
    QString UserFile_;
    bool UseProgramFile_;
};

#include "app/ConfigIni.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

namespace {

const QString kFileName = QStringLiteral("Config.ini");
const QString kSection = QStringLiteral("FormConfig");
const QString kKey = QStringLiteral("dir");

// The section as the file spells it, or the usual spelling when it has none.
QString Section(const QSettings &settings)
{
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups)
        if (group.compare(kSection, Qt::CaseInsensitive) == 0)
            return group;
    return kSection;
}

} // namespace

TConfigIni::TConfigIni(const QString &programFolder, const QString &userFolder)
    : ProgramFile_(QDir(programFolder).filePath(kFileName)), UserFile_(QDir(userFolder).filePath(kFileName)),
      UseProgramFile_(Writable(ProgramFile_))
{
}

QString TConfigIni::DefaultUserFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation); }

QString TConfigIni::FileName() const { return UseProgramFile_ ? ProgramFile_ : UserFile_; }

bool TConfigIni::Writable(const QString &file)
{
    if (QFileInfo::exists(file)) {
        // Opening for appending writes nothing; it fails where the file may not be written.
        QFile probe(file);
        return probe.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    QTemporaryFile probe(QFileInfo(file).absolutePath() + QStringLiteral("/.Config-XXXXXX.ini"));
    return probe.open();
}

QString TConfigIni::ReadDir() const { return Read(kKey); }

QString TConfigIni::Read(const QString &key) const
{
    // Until the user's own file exists, the one beside the program may carry a preset folder.
    QString file = FileName();
    if (!UseProgramFile_ && !QFileInfo::exists(file))
        file = ProgramFile_;
    if (!QFileInfo::exists(file))
        return QString();
    QSettings settings(file, QSettings::IniFormat);
    const QVariant value = settings.value(Section(settings) + QLatin1Char('/') + key);
    // A hand-written value with a comma in it reads as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool TConfigIni::WriteFile(const QString &file, const QList<QPair<QString, QString>> &values)
{
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    QSettings settings(file, QSettings::IniFormat);
    const QString section = Section(settings);
    for (const auto &[key, value] : values)
        settings.setValue(section + QLatin1Char('/') + key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool TConfigIni::WriteDir(const QString &dir) { return Write({{kKey, dir}}); }

bool TConfigIni::Write(const QList<QPair<QString, QString>> &values)
{
    if (UseProgramFile_) {
        if (WriteFile(ProgramFile_, values))
            return true;
        UseProgramFile_ = false; // it became read-only meanwhile
    }
    return WriteFile(UserFile_, values);
}

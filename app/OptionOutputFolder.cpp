// Where the options window's outputs go: the output folder chosen, and the closing rule that
// keeps outputs off a CD or DVD.
#include "app/OptionFrm.h"

#include "app/BrowseForFolder.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>

QString TfrmOption::ApplicationTitle() const { return QGuiApplication::applicationDisplayName(); }

bool TfrmOption::BrowseForFolder(const QString &title, const QString &root, QString &folder)
{
    return ::BrowseForFolder(this, title, root, folder);
}

void TfrmOption::btnOutPathClick()
{
    QString folder = edtOutPath->text();
    if (folder == kSameAsInput)
        folder = QFileInfo(QString::fromStdString(InputFileName())).absolutePath();
    if (!ChooseFolder || !ChooseFolder("Select Output Folder", QString(), folder))
        return;
    if (IsCdRomFolder && IsCdRomFolder(folder.toStdString())) {
        QMessageBox::information(this, ApplicationTitle(), "Output folder cannot be located in CD-ROM.");
        return;
    }
    edtOutPath->setText(folder);
}

bool TfrmOption::FormCloseQuery()
{
    std::string folder;
    if (edtOutPath->text() == kSameAsInput) {
        const std::string input = InputFileName();
        if (input.empty())
            return true; // no input yet, nothing lies anywhere
        folder = std::filesystem::path(input).parent_path().string();
    } else {
        folder = edtOutPath->text().toStdString();
    }
    if (IsCdRomFolder && IsCdRomFolder(folder)) {
        QMessageBox::information(this, ApplicationTitle(),
                                 "Input folder is located in CD-ROM, please select output folder.");
        btnOutPath->setFocus();
        return false;
    }
    return true;
}

void TfrmOption::accept()
{
    if (FormCloseQuery())
        QDialog::accept();
}

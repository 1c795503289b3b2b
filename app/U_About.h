// The about box: the program's name and where its maker can be reached.
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QLabel;

class TFrm_About : public QDialog {
    Q_OBJECT

public:
    explicit TFrm_About(QWidget *owner = nullptr);

    // The maker's addresses the box shows.
    static QString EMailAddress();
    static QString HomepageAddress();

    // How a clicked address is opened; the desktop's handler unless replaced.
    std::function<bool(const QUrl &)> OpenUrl;

    void lblEMailClick();
    void lblHomepageClick();

    QLabel *lblTitle;
    QLabel *lblEMailCaption;
    QLabel *lblEMail;
    QLabel *lblHomepageCaption;
    QLabel *lblHomepage;
};

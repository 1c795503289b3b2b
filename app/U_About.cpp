#include "app/U_About.h"

#include "app/HookDrawing.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

// A label that looks and acts like a link: navy, a hand cursor, a click runs clicked.
class TLinkLabel : public QLabel {
public:
    TLinkLabel(const QString &text, std::function<void()> clicked, QWidget *parent)
        : QLabel(text, parent), clicked_(std::move(clicked))
    {
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
        setPalette(palette);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QLabel::mouseReleaseEvent(event);
        clicked_();
    }

private:
    std::function<void()> clicked_;
};

} // namespace

QString TFrm_About::EMailAddress() { return QStringLiteral("support@marvento.example"); }
QString TFrm_About::HomepageAddress() { return QStringLiteral("https://www.marvento.example/"); }

TFrm_About::TFrm_About(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Frm_About"));
    setWindowTitle(QStringLiteral("About"));
    OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(ApplicationIconImage(48)));
    lblTitle = new QLabel(QStringLiteral("Marvento Wav Mp3 Converter"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);

    lblEMailCaption = new QLabel(QStringLiteral("E-mail:"), this);
    lblEMail = new TLinkLabel(
        EMailAddress(), [this] { lblEMailClick(); }, this);
    lblEMail->setObjectName(QStringLiteral("lblEMail"));
    lblHomepageCaption = new QLabel(QStringLiteral("Homepage:"), this);
    lblHomepage = new TLinkLabel(
        HomepageAddress(), [this] { lblHomepageClick(); }, this);
    lblHomepage->setObjectName(QStringLiteral("lblHomepage"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *grid = new QGridLayout;
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1, 1, 2);
    grid->addWidget(lblEMailCaption, 1, 1);
    grid->addWidget(lblEMail, 1, 2);
    grid->addWidget(lblHomepageCaption, 2, 1);
    grid->addWidget(lblHomepage, 2, 2);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(2, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFrm_About::lblEMailClick() { OpenUrl(QUrl(QStringLiteral("mailto:") + EMailAddress())); }

void TFrm_About::lblHomepageClick() { OpenUrl(QUrl(HomepageAddress())); }

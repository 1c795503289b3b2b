#include "app/FileDialogKeys.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QFileDialog>
#include <QKeyEvent>

namespace {

const char *const kFitted = "veloxEnterAccepts";

// Sits in front of the completer on its list: the completer still puts the highlighted name into
// the field, then the dialog is accepted with it, as if Enter had reached the field.
class TCompletionEnter : public QObject {
public:
    TCompletionEnter(QFileDialog *dialog, QAbstractItemView *popup) : QObject(popup), Dialog(dialog), Popup(popup) {}

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && Popup->currentIndex().isValid())
            QMetaObject::invokeMethod(
                Dialog,
                [dialog = Dialog] {
                    if (dialog->isVisible())
                        static_cast<QDialog *>(dialog)->accept(); // the file dialog's own, through QDialog
                },
                Qt::QueuedConnection);
        return false;
    }

private:
    QFileDialog *Dialog;
    QAbstractItemView *Popup;
};

} // namespace

void MakeCompletionsAccept(QFileDialog *dialog)
{
    // The dialog makes its fields when first shown: called again then, each list is fitted once.
    for (QCompleter *completer : dialog->findChildren<QCompleter *>()) {
        QAbstractItemView *popup = completer->popup();
        if (popup->property(kFitted).toBool())
            continue;
        popup->setProperty(kFitted, true);
        popup->installEventFilter(new TCompletionEnter(dialog, popup));
        // The list is a window of its own: it would stay where it was after the dialog.
        QObject::connect(dialog, &QDialog::finished, popup, &QWidget::hide);
    }
}

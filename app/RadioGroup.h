// A framed group of radio buttons with one chosen item, laid out in columns that fill top to
// bottom, then left to right.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString &name, const QString &caption, const QStringList &items, int columns,
                QWidget *parent = nullptr);

    const QStringList &Items() const { return items_; }
    // The chosen item's index, -1 when none is.
    int ItemIndex() const;
    // -1 (or an index out of range) clears the choice.
    void SetItemIndex(int index);
    // The chosen item's text; empty when none is chosen.
    QString ItemText() const;
    QRadioButton *Button(int index) const;

signals:
    void ItemIndexChanged(int index);

private:
    QStringList items_;
    QButtonGroup *buttons_;
};

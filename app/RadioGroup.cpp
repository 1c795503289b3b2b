#include "app/RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

#include <algorithm>

TRadioGroup::TRadioGroup(const QString &name, const QString &caption, const QStringList &items, int columns,
                         QWidget *parent)
    : QGroupBox(caption, parent), items_(items), buttons_(new QButtonGroup(this))
{
    setObjectName(name);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setVerticalSpacing(0);
    const int perColumn = (static_cast<int>(items.size()) + columns - 1) / std::max(columns, 1);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items[i], this);
        button->setObjectName(name + "_" + QString::number(i));
        buttons_->addButton(button, i);
        grid->addWidget(button, i % perColumn, i / perColumn);
    }
    connect(buttons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit ItemIndexChanged(id);
    });
}

int TRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < items_.size()) {
        buttons_->button(index)->setChecked(true);
        return;
    }
    // An exclusive group cannot be emptied by unchecking its one checked button.
    if (QAbstractButton *checked = buttons_->checkedButton()) {
        buttons_->setExclusive(false);
        checked->setChecked(false);
        buttons_->setExclusive(true);
        emit ItemIndexChanged(-1);
    }
}

QString TRadioGroup::ItemText() const
{
    const int index = ItemIndex();
    return index >= 0 ? items_[index] : QString();
}

QRadioButton *TRadioGroup::Button(int index) const { return qobject_cast<QRadioButton *>(buttons_->button(index)); }

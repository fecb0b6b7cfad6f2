#include "platform/AboutBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
QLabel *addLabel(QVBoxLayout *layout, const QString &text, const QString &objectName) {
    auto *label = new QLabel(text);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setAccessibleName(text);
    layout->addWidget(label);
    return label;
}
} // namespace

AboutBox::AboutBox(const QString &title, const QIcon &icon, const QString &subtitle,
                   const QStringList &lines, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(title);
    setWindowIcon(icon);
    setAccessibleName(title);

    auto *iconLabel = new QLabel;
    iconLabel->setObjectName(QStringLiteral("lblIcon"));
    iconLabel->setPixmap(icon.pixmap(64, 64));
    iconLabel->setAlignment(Qt::AlignTop);
    iconLabel->setAccessibleName(tr("Program icon"));

    auto *texts = new QVBoxLayout;
    QLabel *titleLabel = addLabel(texts, title, QStringLiteral("lblTitle"));
    QFont big = titleLabel->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    titleLabel->setFont(big);
    addLabel(texts, subtitle, QStringLiteral("lblSubtitle"));
    texts->addSpacing(8);
    for (int i = 0; i < lines.size(); ++i)
        addLabel(texts, lines.at(i), QStringLiteral("lblLine%1").arg(i));

    auto *top = new QHBoxLayout;
    top->addWidget(iconLabel);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

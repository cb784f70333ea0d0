#include "imaging/untMeasure.h"

#include <QDoubleValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmMeasure::TfrmMeasure(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmMeasure"));
    setWindowTitle(QStringLiteral("测量校准"));
    setFixedSize(295, 110);
    move(608, 271);
    QFont dialogFont(QStringLiteral("MS Sans Serif"));
    dialogFont.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK SC")});
    dialogFont.setPointSize(8);
    setFont(dialogFont);

    lbRealLength = new QLabel(QStringLiteral("输入实际长度："), this);
    lbRealLength->setObjectName(QStringLiteral("lbRealLength"));
    lbRealLength->setGeometry(8, 10, 241, 16);

    edtRealLength = new QLineEdit(QStringLiteral("1"), this);
    edtRealLength->setObjectName(QStringLiteral("edtRealLength"));
    edtRealLength->setGeometry(96, 32, 97, 21);
    edtRealLength->setValidator(new QDoubleValidator(0.0, 1e9, 6, edtRealLength));
    lbRealLength->setBuddy(edtRealLength);

    TntLabel1 = new QLabel(QStringLiteral("mm"), this);
    TntLabel1->setObjectName(QStringLiteral("TntLabel1"));
    TntLabel1->move(208, 40);

    btnOK = new QPushButton(QStringLiteral("确定"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(56, 72, 75, 25);
    btnOK->setAutoDefault(false);
    btnCancel = new QPushButton(QStringLiteral("取消"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(160, 72, 75, 25);
    btnCancel->setAutoDefault(false);

    setTabOrder(btnOK, btnCancel);
    setTabOrder(btnCancel, edtRealLength);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    for (QWidget *control : findChildren<QWidget *>())
        control->setAccessibleDescription(control->objectName());
}

void TfrmMeasure::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

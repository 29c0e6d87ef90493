#include "CAboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(kTitle);
    setFont(QFont(QStringLiteral("Tahoma")));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kVersionText, this));
    layout->addWidget(new QLabel(kDateText, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

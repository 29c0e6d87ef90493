#include "IPAddressEdit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

#include <algorithm>

IPAddressEdit::IPAddressEdit(QWidget* parent) : QLineEdit(parent)
{
    static const QString octet = QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?");
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^%1(\\.%1){0,3}$").arg(octet)), this));
    SetAddress({ 0, 0, 0, 0 });
}

void IPAddressEdit::SetAddress(const std::array<uint8_t, 4>& octets)
{
    setText(QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]));
}

std::array<uint8_t, 4> IPAddressEdit::GetAddress() const
{
    std::array<uint8_t, 4> octets{};
    const QStringList fields = text().split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < fields.size(); ++i) {
        bool ok = false;
        const qlonglong value = fields[i].trimmed().toLongLong(&ok);
        if (ok && value > 0)
            octets[size_t(i)] = uint8_t(std::min<qlonglong>(value, 255));
    }
    return octets;
}

QString IPAddressEdit::AddressText() const
{
    const std::array<uint8_t, 4> octets = GetAddress();
    return QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
}

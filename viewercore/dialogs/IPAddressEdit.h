#pragma once
// The dialogs' IPv4 address field: four dotted octets, each 0..255. Typing
// that would leave an octet out of range is refused; a blank octet reads 0.
#include <QLineEdit>

#include <array>
#include <cstdint>

class IPAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit IPAddressEdit(QWidget* parent = nullptr);

    void SetAddress(const std::array<uint8_t, 4>& octets);
    // Text set from elsewhere is read leniently: blank or non-numeric octets
    // read 0, octets above 255 read 255, octets beyond the fourth are ignored.
    std::array<uint8_t, 4> GetAddress() const;
    // The address as "%d.%d.%d.%d".
    QString AddressText() const;
};

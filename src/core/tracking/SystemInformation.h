// The machine identifier of the usage events: the hardware address of the first network
// adapter that has one, and the MD5 digest that is all that ever leaves the machine.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class TSystemInformation {
public:
    // Six two-digit upper-case hexadecimal numbers joined by "-", or "" when no adapter has an
    // address other than all zeros.
    static QString GetMACAddress();
    // The MD5 digest of GetMACAddress()'s UTF-8 text as 32 lower-case hexadecimal characters.
    static QString GetMACAddressHashed();

    struct TAdapter {
        int Index = 0;       // the kernel's interface index
        QByteArray Address;  // the hardware address as bytes
    };
    // The adapters of a sysfs network class folder ("/sys/class/net" on a running system), in
    // index order; adapters whose files cannot be read are left out.
    static QList<TAdapter> ReadAdapters(const QString& classNetFolder);
    // The first six-byte address that is not all zeros, formatted; "" when there is none.
    static QString FirstAddress(const QList<TAdapter>& adapters);
    // MD5 of the UTF-8 text, lower-case hexadecimal.
    static QString HashedAddress(const QString& address);
};

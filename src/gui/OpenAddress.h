// Documents and addresses the person asked to see: handed to the desktop, and where nothing there
// can open them, shown in a small window from which the address can be copied into a browser.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The window "Adresse": why the address did not open, the address itself (read-only, selected,
// with the focus, so that Ctrl+C copies it at once), "Kopieren" and "OK".
class TfrmAddress : public QDialog {
    Q_OBJECT
public:
    TfrmAddress(const QString& address, QWidget* parent = nullptr);

    QLabel* lblText;
    QLineEdit* edAdresse;
    QPushButton* btnKopieren;
    QPushButton* btnOK;

public Q_SLOTS:
    void btnKopierenClick();
};

// Opens `address` (a web or file address, or a file) through StartEXE; when the desktop cannot,
// shows TfrmAddress over `parent` and returns false once it is closed.
bool OpenAddressOrShow(QWidget* parent, const QString& address);

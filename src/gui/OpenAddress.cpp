// Addresses opened by the desktop, or offered for copying.
#include "gui/OpenAddress.h"

#include "core/services/BasicProcs.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QClipboard>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Wide enough for a usual web address at the default font; longer ones scroll in the field.
constexpr int AddressChars = 70;

}  // namespace

TfrmAddress::TfrmAddress(const QString& address, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      lblText(new QLabel(this)),
      edAdresse(new QLineEdit(address, this)),
      btnKopieren(new QPushButton(QStringLiteral("&Kopieren"), this)),
      btnOK(new QPushButton(QStringLiteral("OK"), this))
{
    setObjectName(QStringLiteral("frmAdresse"));
    setWindowTitle(QStringLiteral("Adresse"));
    setFont(WindowFont());

    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setTextFormat(Qt::PlainText);
    lblText->setWordWrap(true);
    lblText->setText(
        QStringLiteral("Die Adresse konnte nicht geöffnet werden: Auf diesem Rechner ist kein "
                       "Programm eingerichtet, das sie anzeigt.\nSie können die Adresse "
                       "kopieren und selbst in einem Browser öffnen:"));
    edAdresse->setObjectName(QStringLiteral("edAdresse"));
    edAdresse->setReadOnly(true);
    edAdresse->setAccessibleName(QStringLiteral("Adresse"));
    lblText->setBuddy(edAdresse);
    btnKopieren->setObjectName(QStringLiteral("btnKopieren"));
    btnKopieren->setAutoDefault(true);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    SetCaptionWithAccessKey(btnOK, QStringLiteral("OK"), u'O');
    btnOK->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnKopieren);
    buttons->addWidget(btnOK);
    auto* column = new QVBoxLayout(this);
    column->addWidget(lblText);
    column->addWidget(edAdresse);
    column->addLayout(buttons);

    connect(btnKopieren, &QPushButton::clicked, this, &TfrmAddress::btnKopierenClick);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    edAdresse->selectAll();
    edAdresse->setFocus();
    // Room for a usual address, as far as the screen allows: the field scrolls the rest.
    const int preferredWidth = QFontMetrics(font()).averageCharWidth() * AddressChars +
                               column->contentsMargins().left() + column->contentsMargins().right();
    resize(CapToScreen(*this, QSize(std::max(preferredWidth, sizeHint().width()), sizeHint().height())));

    // F1 opens the part of the manual about the window the address comes from.
    SetUpWindowKeys(this, HelpContextOf(parent));
    HoldOnScreen(*this, [this] { resize(CapToScreen(*this, size())); });
}

void TfrmAddress::btnKopierenClick()
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(edAdresse->text());
    edAdresse->selectAll();
    edAdresse->setFocus();
}

bool OpenAddressOrShow(QWidget* parent, const QString& address)
{
    if (StartEXE(parent, address, QString(), false))
        return true;
    TfrmAddress form(address, parent != nullptr ? parent->window() : nullptr);
    form.exec();
    return false;
}
